#pragma once

#include "framework/popupwidget.h"

class QFrame;
class QSignalMapper;
class QVBoxLayout;

// The pop-up list of places on a settings tab the user can jump to.
class BookmarkMenu : public PopupWidget
{
    Q_OBJECT
public:
    explicit BookmarkMenu(QWidget* parent = nullptr);

    // Adds an entry that reports `bookmark` when chosen.
    void addEntry(const QString& title, int bookmark);
    int entryCount() const { return m_entries; }

Q_SIGNALS:
    void bookmarkSelected(int bookmark);

public Q_SLOTS:
    void onBookmarkSelected(int bookmark);

private:
    QSignalMapper* m_mapper;
    QFrame* m_background;
    QVBoxLayout* m_column;
    int m_entries = 0;
};
