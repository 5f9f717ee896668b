#pragma once

#include <QPushButton>

class BookmarkMenu;

// The "Jump to" button that opens the bookmark menu under itself.
class BookmarkSelector : public QPushButton
{
    Q_OBJECT
public:
    explicit BookmarkSelector(QWidget* parent = nullptr);

    BookmarkMenu* menu() const { return m_menu; }

Q_SIGNALS:
    void bookmarkSelected(int bookmark);

public Q_SLOTS:
    void onRaiseBookmarkMenu();

private:
    BookmarkMenu* m_menu;
};
