#include "framework/settingscomboboxdelegate.h"

#include <QPainter>

SettingsComboBoxDelegate::SettingsComboBoxDelegate(QAbstractItemDelegate* wrapped, QObject* parent)
    : QItemDelegate(parent)
    , m_wrapped(wrapped)
{
}

bool SettingsComboBoxDelegate::isSeparator(const QModelIndex& index)
{
    // The marker QComboBox::insertSeparator leaves on its items.
    return index.model() &&
           index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator");
}

void SettingsComboBoxDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const
{
    if (isSeparator(index)) {
        painter->fillRect(option.rect.adjusted(1, 2, -1, -2), QColor(181, 181, 181));
        return;
    }
    if (m_wrapped)
        m_wrapped->paint(painter, option, index);
    else
        QItemDelegate::paint(painter, option, index);
}

QSize SettingsComboBoxDelegate::sizeHint(const QStyleOptionViewItem& option,
                                         const QModelIndex& index) const
{
    if (isSeparator(index))
        return QSize(0, 5);
    return m_wrapped ? m_wrapped->sizeHint(option, index) : QItemDelegate::sizeHint(option, index);
}
