#pragma once

#include <QFrame>

class CardPushButton;

// The software version lines of a settings tab, with "Update Now" when a compatible update is
// available.
class FirmwareUpdateRow : public QFrame
{
    Q_OBJECT
public:
    FirmwareUpdateRow(const QString& currentVersion, const QString& availableVersion,
                      bool updateAvailable, bool incompatible, QWidget* parent = nullptr);

    // Null unless a compatible update is offered.
    CardPushButton* updateButton() const { return m_updateButton; }

Q_SIGNALS:
    void updateFirmware();

private:
    CardPushButton* m_updateButton = nullptr;
};
