#pragma once

#include "framework/settingspage.h"

#include <QStringList>

class KestrelUSBConnection;
class QComboBox;
class QRadioButton;
class SettingsTab;

// The recorder's one settings page: codec and record trigger, and timecode output on the
// older recorders. Saving writes through the connection; a recorder that is busy or stops
// answering keeps the page open while the connection dialog says why.
class KestrelSettingsPage : public SettingsPage
{
    Q_OBJECT
public:
    // The connection is not owned; `card` is the page's parent.
    KestrelSettingsPage(KestrelUSBConnection* connection, QWidget* card);

    // The codec labels, index = the record's legacyCodec or codecIndex.
    static QStringList legacyCodecLabels();
    static QStringList streamingCodecLabels();
    static QStringList triggerLabels();
    // What a model offers, in list order; empty for a model that offers none.
    static QStringList offeredCodecs(quint32 model, bool legacy);

    void saveSettings() override;
    void revertSettings() override {}

    SettingsTab* tab() const { return m_tab; }
    QComboBox* codecBox() const { return m_codecBox; }
    QComboBox* triggerBox() const { return m_triggerBox; }
    QRadioButton* timecodeOn() const { return m_timecodeOn; }
    QRadioButton* timecodeOff() const { return m_timecodeOff; }
    bool closeAfterSave() const { return m_closeAfterSave; }

public Q_SLOTS:
    void onSettingsChanged();
    void onSettingsEdited();
    void onDeviceBusy();
    void onConnectionLost();

protected Q_SLOTS:
    void onSavePressed() override;

private:
    bool isLegacy() const { return m_legacy; }

    bool m_closeAfterSave = true;
    bool m_legacy = false;
    KestrelUSBConnection* m_connection;
    SettingsTab* m_tab;
    QComboBox* m_codecBox = nullptr;
    QComboBox* m_triggerBox = nullptr;
    QRadioButton* m_timecodeOn = nullptr;
    QRadioButton* m_timecodeOff = nullptr;
};
