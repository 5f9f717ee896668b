#include "simunits.h"

#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "plugins/recorder/kestrelconnectiondialog.h"
#include "plugins/recorder/kestrelsettingspage.h"
#include "plugins/recorder/visibleusbkestrel.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QtTest>

#include <functional>

using namespace CVN::DiskRecorder;

namespace {

// Pauses that cost nothing; each one may change the unit, as time passing would.
class StepClock : public ManualClock
{
public:
    void sleep(uint32_t ms) override
    {
        ManualClock::sleep(ms);
        if (onSleep)
            onSleep(sleeps());
    }
    std::function<void(int)> onSleep;
};

// A recorder's settings page as the card opens it: the connection open, the page and the
// connection dialog on a window.
struct OpenPage
{
    explicit OpenPage(IKestrel* device)
        : visible(device, nullptr)
        , connection(visible.createConnection())
    {
        connection->stopPolling();
        connection->setWaitClock(clock);
        connection->pollConnection();
        dialog = new KestrelConnectionDialog(connection.get(), &window);
        page = new KestrelSettingsPage(connection.get(), &window);
    }

    QStringList codecs() const
    {
        QStringList items;
        for (int i = 0; i < page->codecBox()->count(); ++i)
            items << page->codecBox()->itemText(i);
        return items;
    }
    // As the user picks an item.
    static void pick(QComboBox* box, const QString& text)
    {
        const int index = box->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
    static void click(QRadioButton* button) { button->click(); }
    void save() { emit page->footer()->savePressed(); }

    std::shared_ptr<StepClock> clock = std::make_shared<StepClock>();
    QWidget window;
    VisibleUSBKestrel visible;
    std::unique_ptr<KestrelUSBConnection> connection;
    KestrelConnectionDialog* dialog = nullptr;
    KestrelSettingsPage* page = nullptr;
};

// The unit's status register: application running, ProRes and DNx.
constexpr uint8_t kRunning = 0x31;

} // namespace

class SettingsPageTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { KestrelUSBConnection::resetFailureCount(); }
    void cleanup() { Sim::UsbBus::instance().reset(); }

    void modelOffersItsCodecs_data();
    void modelOffersItsCodecs();
    void pageShowsTheUnitsSettings_data();
    void pageShowsTheUnitsSettings();
    void savedSettingsReachEachGeneration_data();
    void savedSettingsReachEachGeneration();
    void saveOutcomes_data();
    void saveOutcomes();
    void codecNotOfferedIsKeptOnSave();
    void userEditsOutliveUnitChanges_data();
    void userEditsOutliveUnitChanges();
};

void SettingsPageTest::modelOffersItsCodecs_data()
{
    QTest::addColumn<QString>("generation");
    QTest::addColumn<int>("productId");
    QTest::addColumn<QStringList>("codecs");
    QTest::addColumn<bool>("timecodeEnabled");
    const QStringList legacy = KestrelSettingsPage::legacyCodecLabels();
    QTest::newRow("model 0, fx2 c34c") << "fx2" << 0xC34C << QStringList{"Uncomp 10-bit"} << true;
    QTest::newRow("model 1, fx2 c35a")
        << "fx2" << 0xC35A << QStringList{"Uncomp 10-bit", "ProRes HQ", "DNxHD QT", "DNxHD MXF"}
        << true;
    QTest::newRow("model 2, fx2 c3a3") << "fx2" << 0xC3A3 << legacy.mid(0, 7) << true;
    QTest::newRow("model 3, fx2 c34d") << "fx2" << 0xC34D << legacy.mid(0, 7) << true;
    QTest::newRow("model 4, xmega mailbox") << "mailbox" << 0xC3A6 << legacy << true;
    QTest::newRow("model 5, streaming")
        << "streaming" << 0xC3E4 << KestrelSettingsPage::streamingCodecLabels() << false;
}

void SettingsPageTest::modelOffersItsCodecs()
{
    QFETCH(QString, generation);
    QFETCH(int, productId);
    QFETCH(QStringList, codecs);
    QFETCH(bool, timecodeEnabled);
    auto unit = makeSimUnit(generation, uint16_t(productId));
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    OpenPage open(unit->device());
    QVERIFY(open.connection->isOpen());

    QCOMPARE(open.codecs(), codecs);
    QCOMPARE(open.page->triggerBox()->count(), 3);
    QCOMPARE(open.page->timecodeOn()->isEnabled(), timecodeEnabled);
    QCOMPARE(open.page->timecodeOff()->isEnabled(), timecodeEnabled);
}

void SettingsPageTest::pageShowsTheUnitsSettings_data()
{
    QTest::addColumn<QString>("generation");
    QTest::addColumn<quint32>("codec");
    QTest::addColumn<quint32>("trigger");
    QTest::addColumn<bool>("timecode");
    QTest::addColumn<QString>("codecText");
    QTest::addColumn<QString>("triggerText");
    QTest::newRow("fx2 c34d") << "fx2" << 3u << 2u << true << "ProRes LT"
                              << "Timecode Run";
    QTest::newRow("xmega mailbox") << "mailbox" << 8u << 1u << false << "DNxHR MXF"
                                   << "SDI start/stop";
    QTest::newRow("streaming") << "streaming" << 1u << 1u << false << "ProRes"
                               << "SDI start/stop";
}

void SettingsPageTest::pageShowsTheUnitsSettings()
{
    QFETCH(QString, generation);
    QFETCH(quint32, codec);
    QFETCH(quint32, trigger);
    QFETCH(bool, timecode);
    QFETCH(QString, codecText);
    QFETCH(QString, triggerText);
    auto unit = makeSimUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    KestrelSettings onUnit;
    onUnit.legacyCodec = codec;
    onUnit.codecIndex = codec;
    onUnit.trigger = trigger;
    onUnit.timecodeOutput = timecode;
    QVERIFY(unit->device()->writeSettings(onUnit));

    OpenPage open(unit->device());
    QCOMPARE(open.page->codecBox()->currentText(), codecText);
    QCOMPARE(open.page->triggerBox()->currentText(), triggerText);
    QCOMPARE(open.page->timecodeOn()->isChecked(), timecode);
    QCOMPARE(open.page->timecodeOff()->isChecked(), !timecode);
}

void SettingsPageTest::savedSettingsReachEachGeneration_data()
{
    QTest::addColumn<QString>("generation");
    QTest::addColumn<QString>("codecText");
    QTest::addColumn<quint32>("codec");
    // Looks at the unit that find it not yet answering, before the write goes out.
    QTest::addColumn<int>("silentLooks");
    QTest::newRow("fx2") << "fx2"
                         << "DNxHD MXF" << 6u << 0;
    QTest::newRow("fx2, answering at the third look") << "fx2"
                                                      << "ProRes HQ" << 1u << 2;
    QTest::newRow("xmega mailbox") << "mailbox"
                                   << "DNxHR QT" << 7u << 0;
    QTest::newRow("xmega mailbox, answering at the third look") << "mailbox"
                                                                << "ProRes Proxy" << 4u << 2;
    QTest::newRow("streaming") << "streaming"
                               << "ProRes LT" << 2u << 0;
}

// The user's choices go through the busy check and the wait for the unit, and the unit holds
// them afterwards; the page closes.
void SettingsPageTest::savedSettingsReachEachGeneration()
{
    QFETCH(QString, generation);
    QFETCH(QString, codecText);
    QFETCH(quint32, codec);
    QFETCH(int, silentLooks);
    auto unit = makeSimUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    OpenPage open(unit->device());
    QVERIFY(open.connection->isOpen());
    QSignalSpy closed(open.page, &KestrelSettingsPage::closePage);
    QSignalSpy flushed(open.connection.get(), &KestrelConnection::settingsFlushed);

    OpenPage::pick(open.page->codecBox(), codecText);
    OpenPage::pick(open.page->triggerBox(), "Timecode Run");
    const bool legacy = generation != "streaming";
    if (legacy)
        OpenPage::click(open.page->timecodeOn());
    if (silentLooks) {
        // The unit's application is not running yet; it is after the given number of pauses.
        QVERIFY(unit->setBusy(false));
        auto* fx2 = dynamic_cast<Fx2Unit*>(unit.get());
        auto* mailbox = dynamic_cast<MailboxUnit*>(unit.get());
        auto setStatus = [fx2, mailbox](uint8_t status) {
            if (fx2)
                fx2->model->setStatus(status);
            else
                mailbox->model->setStatus(status);
        };
        setStatus(kRunning & ~0x01);
        open.clock->onSleep = [setStatus, silentLooks](int sleeps) {
            if (sleeps == silentLooks)
                setStatus(kRunning);
        };
    }
    open.save();

    QCOMPARE(closed.count(), 1);
    QCOMPARE(flushed.count(), 1);
    QVERIFY(!open.dialog->isVisible());
    QVERIFY(!open.connection->hasSettingsError());
    QCOMPARE(open.clock->sleeps(), silentLooks);
    KestrelSettings after;
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(legacy ? after.legacyCodec : after.codecIndex, codec);
    QCOMPARE(after.trigger, quint32(KestrelSettings::kTriggerTimecodeRun));
    if (legacy)
        QVERIFY(after.timecodeOutput);
}

void SettingsPageTest::saveOutcomes_data()
{
    QTest::addColumn<QString>("generation");
    QTest::addColumn<QString>("unitState");
    QTest::addColumn<bool>("pageCloses");
    QTest::addColumn<bool>("dialogShown");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("forcedUpdates");
    const QString busy = "Kestrel is currently in use. Please stop playback or recording.";
    const QString lost = "Configuration Failed. Power cycle the Kestrel and try again.";
    QTest::newRow("fx2 saved") << "fx2"
                               << "ready" << true << false << "" << 0;
    QTest::newRow("fx2 recording") << "fx2"
                                   << "recording" << false << true << busy << 0;
    QTest::newRow("xmega mailbox recording") << "mailbox"
                                             << "recording" << false << true << busy << 0;
    QTest::newRow("fx2 unplugged") << "fx2"
                                   << "unplugged" << false << true << lost << 0;
    QTest::newRow("xmega mailbox unplugged") << "mailbox"
                                             << "unplugged" << false << true << lost << 0;
    QTest::newRow("streaming unplugged") << "streaming"
                                         << "unplugged" << false << true << lost << 0;
    // The firmware cannot record the codec: an update is forced, the page goes with the card.
    QTest::newRow("fx2 codec refused") << "fx2"
                                       << "no ProRes" << true << false << "" << 1;
}

void SettingsPageTest::saveOutcomes()
{
    QFETCH(QString, generation);
    QFETCH(QString, unitState);
    QFETCH(bool, pageCloses);
    QFETCH(bool, dialogShown);
    QFETCH(QString, message);
    QFETCH(int, forcedUpdates);
    auto unit = makeSimUnit(generation);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    KestrelSettings before;
    QVERIFY(unit->device()->readSettings(before));
    OpenPage open(unit->device());
    QSignalSpy closed(open.page, &KestrelSettingsPage::closePage);
    QSignalSpy updates(open.connection.get(), &KestrelConnection::requiresFirmwareUpdate);

    OpenPage::pick(open.page->codecBox(), "ProRes HQ");
    OpenPage::pick(open.page->triggerBox(),
                   before.trigger == 1 ? "Timecode Run" : "SDI start/stop");
    if (unitState == "recording") {
        QVERIFY(unit->setBusy(true));
    } else if (unitState == "unplugged") {
        QVERIFY(Sim::UsbBus::instance().unplug(unit->busId));
        QTRY_COMPARE(unit->removals(), 1);
    } else if (unitState == "no ProRes") {
        static_cast<Fx2Unit*>(unit.get())->model->setStatus(kRunning & ~0x10);
    }
    open.save();

    QCOMPARE(closed.count(), pageCloses ? 1 : 0);
    QCOMPARE(open.page->closeAfterSave(), pageCloses);
    QCOMPARE(open.dialog->isVisibleTo(&open.window), dialogShown);
    QCOMPARE(updates.count(), forcedUpdates);
    if (forcedUpdates)
        QCOMPARE(updates.at(0).at(0).toBool(), true);
    if (dialogShown) {
        QCOMPARE(open.dialog->titleLabel()->text(), QStringLiteral("Connection Lost"));
        QCOMPARE(open.dialog->headingLabel()->text(), QStringLiteral("Settings Error!"));
        QCOMPARE(open.dialog->messageLabel()->text(), CommonDialog::keepLastWordsTogether(message));
        QVERIFY(open.dialog->closeButton()->isVisibleTo(open.dialog));
        QCOMPARE(open.dialog->closeButton()->text(), QStringLiteral("OK"));
        // OK closes the dialog; the page stays for another try.
        open.dialog->closeButton()->click();
        QVERIFY(!open.dialog->isVisibleTo(&open.window));
    }
    if (unitState != "ready" && unitState != "unplugged") {
        KestrelSettings after;
        QVERIFY(unit->device()->readSettings(after));
        QCOMPARE(after.trigger, before.trigger);
    }
}

// A unit holding a codec its model does not offer shows none; saving the other settings leaves
// the unit's codec as it was instead of writing the "unknown" row.
void SettingsPageTest::codecNotOfferedIsKeptOnSave()
{
    auto unit = makeCurrentFx2Unit(0xC35A);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    KestrelSettings onUnit;
    onUnit.legacyCodec = 2; // "ProRes": recordable, but not offered by the model
    QVERIFY(unit->device()->writeSettings(onUnit));
    OpenPage open(unit->device());
    QCOMPARE(open.connection->settings().legacyCodec, 2u);
    QCOMPARE(open.page->codecBox()->currentIndex(), -1);

    OpenPage::pick(open.page->triggerBox(), "SDI start/stop");
    open.save();
    KestrelSettings after;
    QVERIFY(unit->device()->readSettings(after));
    QCOMPARE(after.trigger, quint32(KestrelSettings::kTriggerSdi));
    QCOMPARE(after.legacyCodec, 2u);
}

void SettingsPageTest::userEditsOutliveUnitChanges_data()
{
    QTest::addColumn<bool>("edited");
    QTest::newRow("untouched page follows the unit") << false;
    QTest::newRow("edited page keeps the user's choice") << true;
}

void SettingsPageTest::userEditsOutliveUnitChanges()
{
    QFETCH(bool, edited);
    auto unit = makeFx2Unit(0xC34D);
    QVERIFY(unit->start());
    QTRY_VERIFY(unit->device());
    OpenPage open(unit->device());
    if (edited)
        OpenPage::pick(open.page->triggerBox(), "Timecode Run");
    const QString shownBefore = open.page->triggerBox()->currentText();

    // Changed on the unit itself, which says so in its status.
    KestrelSettings onUnit = open.connection->settings();
    onUnit.legacyCodec = 5;
    onUnit.trigger = KestrelSettings::kTriggerSdi;
    QVERIFY(unit->device()->writeSettings(onUnit));
    unit->model->setStatus(kRunning | 0x40);
    open.connection->pollConnection();
    QCOMPARE(open.connection->settings().legacyCodec, 5u);

    if (edited) {
        QCOMPARE(open.page->triggerBox()->currentText(), shownBefore);
        QVERIFY(open.page->codecBox()->currentText() != QStringLiteral("DNxHD QT"));
    } else {
        QCOMPARE(open.page->triggerBox()->currentText(), QStringLiteral("SDI start/stop"));
        QCOMPARE(open.page->codecBox()->currentText(), QStringLiteral("DNxHD QT"));
    }
}

QTEST_MAIN(SettingsPageTest)
#include "tst_settingspage.moc"
