#include "framework/bookmarkselector.h"

#include "framework/bookmarkmenu.h"

BookmarkSelector::BookmarkSelector(QWidget* parent)
    : QPushButton(parent)
{
    setObjectName(QStringLiteral("bookmarkSelector"));
    setFlat(true);
    setFixedSize(145, 29);
    setText(tr("Jump to"));
    setStyleSheet(QStringLiteral("#bookmarkSelector { border-image: url(\":/Dropdown\") 4px 12px "
                                 "4px 4px; border: 4px 12px 4px 4px; }"));
    m_menu = new BookmarkMenu(this);
    connect(m_menu, &BookmarkMenu::bookmarkSelected, this, &BookmarkSelector::bookmarkSelected);
    connect(this, &QPushButton::clicked, this, &BookmarkSelector::onRaiseBookmarkMenu);
}

void BookmarkSelector::onRaiseBookmarkMenu()
{
    QWidget* top = window();
    m_menu->popup(mapTo(top, QPoint(50, 23)) + top->pos());
}
