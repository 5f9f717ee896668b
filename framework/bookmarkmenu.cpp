#include "framework/bookmarkmenu.h"

#include "framework/style.h"
#include "framework/tightvboxlayout.h"

#include <QFrame>
#include <QPushButton>
#include <QSignalMapper>

namespace {
const int kMenuWidth = 94;
const int kEntryHeight = 22;
} // namespace

BookmarkMenu::BookmarkMenu(QWidget* parent)
    : PopupWidget(parent)
    , m_mapper(new QSignalMapper(this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    m_background = new QFrame(this);
    m_background->setStyleSheet(
        QStringLiteral("QFrame { border-radius: 8px; border: none; background-color: white; }"));
    m_column = new TightVBoxLayout(m_background);
    setFixedSize(kMenuWidth, kEntryHeight);
    m_background->setFixedSize(kMenuWidth, kEntryHeight);
    connect(m_mapper, &QSignalMapper::mappedInt, this, &BookmarkMenu::onBookmarkSelected);
}

void BookmarkMenu::addEntry(const QString& title, int bookmark)
{
    auto* entry = new QPushButton(title, m_background);
    entry->setFlat(true);
    entry->setFont(scaledFont(7));
    entry->setFixedHeight(kEntryHeight);
    entry->setStyleSheet(QStringLiteral("QPushButton { color: #474747; border: none; }"
                                        "QPushButton:hover { background-color: #d0d0d0; }"));
    m_column->addWidget(entry);
    m_mapper->setMapping(entry, bookmark);
    connect(entry, &QPushButton::clicked, m_mapper, qOverload<>(&QSignalMapper::map));
    ++m_entries;
    const int height = kEntryHeight * m_entries;
    setFixedSize(kMenuWidth, height);
    m_background->setFixedSize(kMenuWidth, height);
}

void BookmarkMenu::onBookmarkSelected(int bookmark)
{
    Q_EMIT bookmarkSelected(bookmark);
    hide();
}
