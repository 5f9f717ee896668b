#pragma once

#include <QColor>
#include <QWidget>

class QButtonGroup;
class QStackedWidget;
class SettingsTab;
class TabButton;
class TightHBoxLayout;

// Settings tabs under a row of tab titles; its status is the worst of its tabs'.
class CardTabbedPages : public QWidget
{
    Q_OBJECT
public:
    explicit CardTabbedPages(const QColor& accent, QWidget* parent = nullptr);

    int addPage(SettingsTab* page, const QString& title);

    int currentIndex() const { return m_currentIndex; }
    int status() const { return m_status; }
    int count() const;
    SettingsTab* page(int index) const;
    TabButton* tabButton(int index) const;
    QStackedWidget* pages() const { return m_pages; }

Q_SIGNALS:
    void settingsStatusChanged();

protected Q_SLOTS:
    void onButtonClicked(int index);
    void onPageStatusChange();

private:
    QColor m_accent;
    int m_currentIndex = 0;
    QButtonGroup* m_buttons;
    TightHBoxLayout* m_tabRow;
    QStackedWidget* m_pages;
    int m_status = 0;
};
