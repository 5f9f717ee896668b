#include "plugins/recorder/kestrelsettingspage.h"

#include "framework/settingscombobox.h"
#include "framework/settingsradiobutton.h"
#include "framework/settingstab.h"
#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/kestrelusbconnection.h"

#include <QPointer>

namespace {

constexpr int kComboWidth = 240;

QString codecLabel(const QStringList& labels, quint32 index)
{
    return index < quint32(labels.size()) ? labels.at(int(index))
                                          : KestrelSettingsPage::tr("Unknown Codec");
}

} // namespace

KestrelSettingsPage::KestrelSettingsPage(KestrelUSBConnection* connection, QWidget* card)
    : SettingsPage(card)
    , m_legacy(connection && connection->isLegacy())
    , m_connection(connection)
    , m_tab(new SettingsTab)
{
    setSettingsButtonVisible(false);
    addTab(m_tab, tr("Configure"));
    m_tab->addSection(tr("Record"));
    m_codecBox = m_tab->addComboBox(tr("Codec:"), kComboWidth);
    const quint32 model =
        connection ? connection->model() : quint32(KestrelModelTable::UnknownModel);
    m_codecBox->addItems(offeredCodecs(model, m_legacy));
    m_triggerBox = m_tab->addComboBox(tr("Trigger:"), kComboWidth);
    m_triggerBox->addItems(triggerLabels());
    m_tab->addSection(tr("Timecode"));
    m_tab->addRadioGroup(tr("Timecode Output:"));
    m_timecodeOn = m_tab->addRadioButton(tr("On"));
    m_timecodeOff = m_tab->addRadioButton(tr("Off"));
    // Only the older recorders have a timecode output to switch.
    m_timecodeOn->setEnabled(m_legacy);
    m_timecodeOff->setEnabled(m_legacy);
    m_tab->finishBookmarks();

    if (m_connection)
        connect(m_connection, &KestrelConnection::settingsChanged, this,
                &KestrelSettingsPage::onSettingsChanged);
    connect(m_tab, &SettingsTab::settingsStatusChanged, this,
            &KestrelSettingsPage::onSettingsEdited);
    onSettingsChanged();
}

QStringList KestrelSettingsPage::legacyCodecLabels()
{
    QStringList labels;
    for (std::uint32_t i = 0; i < KestrelSettings::kLegacyCodecCount; ++i)
        labels << QString::fromLatin1(KestrelSettings::legacyLabel(i));
    return labels;
}

QStringList KestrelSettingsPage::streamingCodecLabels()
{
    return {QStringLiteral("ProRes HQ"),     QStringLiteral("ProRes"),
            QStringLiteral("ProRes LT"),     QStringLiteral("ProRes Proxy"),
            QStringLiteral("DNxHD 220x QT"), QStringLiteral("DNxHR 220x MXF"),
            QStringLiteral("DNxHD 145 QT"),  QStringLiteral("DNxHR 145 MXF"),
            QStringLiteral("DNxHD 45 QT"),   QStringLiteral("DNxHR 45 MXF"),
            QStringLiteral("DNxHR HQX QT"),  QStringLiteral("DNxHR HQX MXF"),
            QStringLiteral("DNxHR SQ QT"),   QStringLiteral("DNxHR SQ MXF"),
            QStringLiteral("DNxHR LB QT"),   QStringLiteral("DNxHR LB MXF"),
            QStringLiteral("H.264 High"),    QStringLiteral("H.264 Medium"),
            QStringLiteral("H.264 Low")};
}

QStringList KestrelSettingsPage::triggerLabels()
{
    return {tr("Never"), tr("SDI start/stop"), tr("Timecode Run")};
}

QStringList KestrelSettingsPage::offeredCodecs(quint32 model, bool legacy)
{
    if (!legacy)
        return model == KestrelModelTable::KestrelBenchLite ? streamingCodecLabels()
                                                            : QStringList();
    QList<int> rows;
    switch (model) {
    case KestrelModelTable::KestrelPocket:
        rows = {0};
        break;
    case KestrelModelTable::KestrelPocket2:
        rows = {0, 1, 5, 6};
        break;
    case KestrelModelTable::KestrelBenchMax:
    case KestrelModelTable::KestrelBench:
        rows = {0, 1, 2, 3, 4, 5, 6};
        break;
    case KestrelModelTable::KestrelBenchUHD:
        rows = {0, 1, 2, 3, 4, 5, 6, 7, 8};
        break;
    default:
        break;
    }
    const QStringList labels = legacyCodecLabels();
    QStringList offered;
    for (int row : rows)
        offered << labels.at(row);
    return offered;
}

void KestrelSettingsPage::onSettingsChanged()
{
    const KestrelSettings settings = m_connection ? m_connection->settings() : KestrelSettings();
    const QString codec = m_legacy ? codecLabel(legacyCodecLabels(), settings.legacyCodec)
                                   : codecLabel(streamingCodecLabels(), settings.codecIndex);
    m_codecBox->setCurrentIndex(
        m_codecBox->findText(codec, Qt::MatchExactly | Qt::MatchCaseSensitive));
    const QStringList triggers = triggerLabels();
    const QString trigger = settings.trigger < quint32(triggers.size())
                                ? triggers.at(int(settings.trigger))
                                : triggers.at(0);
    m_triggerBox->setCurrentIndex(
        m_triggerBox->findText(trigger, Qt::MatchExactly | Qt::MatchCaseSensitive));
    if (settings.timecodeOutput)
        m_timecodeOn->setChecked(true);
    else
        m_timecodeOff->setChecked(true);
}

void KestrelSettingsPage::onSettingsEdited()
{
    // Once the user has changed a control, changes made on the recorder no longer overwrite it.
    if (m_connection)
        disconnect(m_connection, &KestrelConnection::settingsChanged, this,
                   &KestrelSettingsPage::onSettingsChanged);
}

void KestrelSettingsPage::onDeviceBusy()
{
    m_closeAfterSave = false;
}

void KestrelSettingsPage::onConnectionLost()
{
    m_closeAfterSave = false;
}

void KestrelSettingsPage::saveSettings()
{
    if (!m_connection)
        return;
    const KestrelSettings current = m_connection->settings();
    KestrelSettings settings;
    const QString codec = m_codecBox->currentText();
    if (m_legacy) {
        const int index = legacyCodecLabels().indexOf(codec);
        // No codec chosen (the recorder's own is not offered): the recorder keeps its codec.
        settings.legacyCodec = index < 0 ? current.legacyCodec : quint32(index);
    } else {
        const int index = streamingCodecLabels().indexOf(codec);
        settings.codecIndex = index < 0 ? current.codecIndex : quint32(index);
    }
    settings.trigger = quint32(qMax(0, triggerLabels().indexOf(m_triggerBox->currentText())));
    settings.timecodeOutput = m_timecodeOn->isChecked();

    m_closeAfterSave = true;
    // A slot of the write may delete the card, and this page and the connection with it.
    const QPointer<KestrelSettingsPage> self(this);
    const QPointer<KestrelUSBConnection> connection(m_connection);
    connect(m_connection, &KestrelConnection::deviceBusy, this, &KestrelSettingsPage::onDeviceBusy);
    connect(m_connection, &KestrelConnection::connectionLost, this,
            &KestrelSettingsPage::onConnectionLost);
    m_connection->setSettings(settings);
    if (!self || !connection)
        return;
    disconnect(m_connection, &KestrelConnection::deviceBusy, this,
               &KestrelSettingsPage::onDeviceBusy);
    disconnect(m_connection, &KestrelConnection::connectionLost, this,
               &KestrelSettingsPage::onConnectionLost);
}

void KestrelSettingsPage::onSavePressed()
{
    const QPointer<KestrelSettingsPage> self(this);
    saveSettings();
    if (self && m_closeAfterSave)
        emit closePage();
}
