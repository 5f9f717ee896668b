#pragma once

#include <QMenu>
#include <QStringList>

// The card footer's menu of device commands; each entry reports its tag.
class CardPopupMenu : public QMenu
{
    Q_OBJECT
public:
    explicit CardPopupMenu(QWidget* parent = nullptr);

    QAction* addOption(const QString& text, int tag);
    void clearOptions();
    QStringList options() const { return m_options; }

    // Pops the menu up at `point` given in `widget`'s coordinates.
    void popupAt(QWidget* widget, const QPoint& point);

Q_SIGNALS:
    void menuOptionPressed(int tag);

private:
    QStringList m_options;
};
