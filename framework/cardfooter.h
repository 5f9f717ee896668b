#pragma once

#include <QFrame>

class CardPopupMenu;
class CardPushButton;
class FlatImageButton;

// The bottom of a card: the settings (menu) button, Cancel and Save.
class CardFooter : public QFrame
{
    Q_OBJECT
public:
    explicit CardFooter(QWidget* parent = nullptr);

    FlatImageButton* settingsButton() const { return m_settingsButton; }
    CardPopupMenu* menu() const { return m_menu; }
    CardPushButton* cancelButton() const { return m_cancelButton; }
    CardPushButton* saveButton() const { return m_saveButton; }

    // Save stays available while the settings are unchanged or edited, not while invalid.
    void setSettingsStatus(int status);
    void setSettingsButtonVisible(bool visible);

Q_SIGNALS:
    void settingsButtonPushed();
    void menuOptionPressed(int tag);
    void cancelPressed();
    void savePressed();

private Q_SLOTS:
    void onSettingsPressed();

private:
    FlatImageButton* m_settingsButton;
    CardPopupMenu* m_menu;
    CardPushButton* m_cancelButton;
    CardPushButton* m_saveButton;
};
