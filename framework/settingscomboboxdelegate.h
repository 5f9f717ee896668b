#pragma once

#include <QItemDelegate>

// Draws separator items of a settings combo box as a thin line; every other item is left to
// the delegate it wraps.
class SettingsComboBoxDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    SettingsComboBoxDelegate(QAbstractItemDelegate* wrapped, QObject* parent = nullptr);

    static bool isSeparator(const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QAbstractItemDelegate* m_wrapped;
};
