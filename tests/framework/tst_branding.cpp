#include "framework/accentcolour.h"
#include "framework/appbranding.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kCurrentYear = QString::number(QDate::currentDate().year());

// Writes a settings.ini with the given lines under the group; returns its Resources folder.
QString writeSettings(const QTemporaryDir& dir, const QString& body,
                      const QString& group = QStringLiteral("corvanedesign.devicesetup"))
{
    const QString resources = dir.filePath(QStringLiteral("Resources"));
    QDir().mkpath(resources);
    QFile file(resources + QStringLiteral("/settings.ini"));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write settings.ini");
    file.write(QStringLiteral("[%1]\n%2\n").arg(group, body).toUtf8());
    return resources;
}

} // namespace

class TestBranding : public QObject
{
    Q_OBJECT
public:
    explicit TestBranding(const QString& directoryBeforeApp)
        : m_directoryBeforeApp(directoryBeforeApp)
    {
    }

private Q_SLOTS:
    void init() { setModuleAccentColour(QColor(100, 100, 100)); }

    void derivedNames_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("appName");
        QTest::addColumn<QString>("fullAppName");
        QTest::addColumn<QString>("singular");
        QTest::addColumn<QString>("pluginProduct");

        QTest::newRow("product only") << "product=Kestrel"
                                      << "Kestrel Setup"
                                      << "Corvane Kestrel Setup"
                                      << "Kestrel"
                                      << "Kestrel";
        QTest::newRow("empty suffix") << "product=Kestrel\nutility_suffix="
                                      << "Kestrel"
                                      << "Corvane Kestrel"
                                      << "Kestrel"
                                      << "Kestrel";
        QTest::newRow("empty prefix") << "product=Kestrel\nutility_prefix="
                                      << "Kestrel Setup"
                                      << "Kestrel Setup"
                                      << "Kestrel"
                                      << "Kestrel";
        QTest::newRow("app name") << "product=Kestrel\napp_name=X"
                                  << "X"
                                  << "Corvane X"
                                  << "Kestrel"
                                  << "Kestrel";
        QTest::newRow("everything named")
            << "product=Tendwell\nproduct_singular=Tendwell device\nplugin_product=Tw\n"
               "utility_prefix=Big\napp_name=Pellworth\nfull_app_name=Tendwell Pellworth"
            << "Pellworth"
            << "Tendwell Pellworth"
            << "Tendwell device"
            << "Tw";
        QTest::newRow("unquoted comma") << "product=Kestrel, Wren"
                                        << "Kestrel, Wren Setup"
                                        << "Corvane Kestrel, Wren Setup"
                                        << "Kestrel, Wren"
                                        << "Kestrel, Wren";
    }

    void derivedNames()
    {
        QFETCH(QString, ini);
        QTemporaryDir dir;
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(record, writeSettings(dir, ini)));
        QTEST(record.appName, "appName");
        QTEST(record.fullAppName, "fullAppName");
        QTEST(record.productSingular, "singular");
        QTEST(record.pluginProduct, "pluginProduct");
    }

    void releaseVersion_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("version");
        QTest::newRow("none") << ""
                              << "2.1";
        QTest::newRow("b01") << "b01"
                             << "2.1 Beta";
        QTest::newRow("b12") << "b12"
                             << "2.1 Beta 12";
        QTest::newRow("b012") << "b012"
                              << "2.1 Beta 12";
        QTest::newRow("b3 too short") << "b3"
                                      << "2.1";
        QTest::newRow("b1 too short") << "b1"
                                      << "2.1";
        QTest::newRow("b00") << "b00"
                             << "2.1";
        QTest::newRow("beta") << "beta"
                              << "2.1";
        QTest::newRow("negative") << "b-5"
                                  << "2.1";
        QTest::newRow("digits then text") << "b7rc"
                                          << "2.1 Beta 7";
        QTest::newRow("not a beta") << "r12"
                                    << "2.1";
        QTest::newRow("huge") << "b99999999999999999999"
                              << "2.1 Beta 2147483647";
    }

    void releaseVersion()
    {
        QFETCH(QString, build);
        QTemporaryDir dir;
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(
            record, writeSettings(dir, "product=K\nrelease_version=2.1\nbuild_string=" + build)));
        QTEST(record.releaseVersion, "version");
    }

    void defaultsOfAFileWithOnlyTheProduct()
    {
        QTemporaryDir dir;
        const QString resources = writeSettings(dir, "product=K");
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(record, resources));
        QCOMPARE(record.releaseVersion, QStringLiteral("0.0"));
        QCOMPARE(record.releaseYear, kCurrentYear);
        QCOMPARE(record.noDeviceHeader, QStringLiteral("No Device found"));
        QCOMPARE(record.badInstallHeader, QStringLiteral("The software is not compatible"));
        QCOMPARE(record.noDeviceIconPath, QStringLiteral(":/NoDevice"));
        QCOMPARE(record.badInstallIconPath, QStringLiteral(":/BadInstall"));
        // The icon path is built even without a name.
        QCOMPARE(record.aboutIconPath, resources + "/");
        QVERIFY(record.forceSingleWindow);
        QVERIFY(!record.pluginInsideBundle);
        QVERIFY(!record.useAnNotA);
        // No accent key still sets the default white.
        QCOMPARE(accentColour(), QColor(255, 255, 255));
    }

    void pathsAndFlags()
    {
        QTemporaryDir dir;
        const QString resources = writeSettings(
            dir, "product=K\nabout_icon=Icon.png\nno_device=Empty.png\nforce_single_window=0\n"
                 "plugin_inside_bundle=true\nuse_an_not_a=1\nrelease_year=1999\naccent=");
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(record, resources));
        QCOMPARE(record.aboutIconPath, resources + "/Icon.png");
        QCOMPARE(record.noDeviceIconPath, resources + "/Empty.png");
        QVERIFY(!record.forceSingleWindow);
        QVERIFY(record.pluginInsideBundle);
        QVERIFY(record.useAnNotA);
        QCOMPARE(record.releaseYear, QStringLiteral("1999"));
        // An empty accent leaves the colour alone.
        QCOMPARE(accentColour(), QColor(100, 100, 100));
    }

    void accentPlaceholder_data()
    {
        QTest::addColumn<QString>("accent");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        QTest::newRow("upper case") << "#ff8000"
                                    << "Go <b style=\"color:%ACCENT_COLOUR%\">on</b>"
                                    << "Go <b style=\"color:#ff8000\">on</b>";
        QTest::newRow("twice, mixed case") << "#01abff"
                                           << "%accent_colour% and %Accent_Colour%"
                                           << "#01abff and #01abff";
        QTest::newRow("unparsable accent") << "pink-ish"
                                           << "%accent_colour%"
                                           << "#000000";
    }

    void accentPlaceholder()
    {
        QFETCH(QString, accent);
        QFETCH(QString, message);
        QTemporaryDir dir;
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(
            record, writeSettings(dir, QStringLiteral("product=K\naccent=%1\nno_device_message="
                                                      "\"%2\"\nbad_install_message=\"%2\"")
                                           .arg(accent, QString(message).replace("\"", "\\\"")))));
        QTEST(record.noDeviceMessage, "expected");
        QTEST(record.badInstallMessage, "expected");
    }

    void failuresLeaveTheRecordAlone_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QString>("group");
        QTest::newRow("empty product") << "product=\napp_name=X\naccent=#123456"
                                       << "corvanedesign.devicesetup";
        QTest::newRow("no product") << "app_name=X\naccent=#123456"
                                    << "corvanedesign.devicesetup";
        QTest::newRow("other group") << "product=K\naccent=#123456"
                                     << "somebody.else";
    }

    void failuresLeaveTheRecordAlone()
    {
        QFETCH(QString, ini);
        QFETCH(QString, group);
        QTemporaryDir dir;
        AppBranding::Record record;
        QVERIFY(!AppBranding::loadInto(record, writeSettings(dir, ini, group)));
        QCOMPARE(record.appName, QStringLiteral("Generic Setup"));
        QCOMPARE(record.fullAppName, QStringLiteral("Corvane Generic Setup"));
        QCOMPARE(record.product, QStringLiteral("Generic"));
        QCOMPARE(accentColour(), QColor(100, 100, 100));
    }

    void missingFile()
    {
        QTemporaryDir dir;
        AppBranding::Record record;
        QVERIFY(!AppBranding::loadInto(record, dir.filePath("Resources")));
        QCOMPARE(record.appName, QStringLiteral("Generic Setup"));
        QCOMPARE(record.releaseYear, kCurrentYear);
    }

    void programDirectoryWorksBeforeTheApplication()
    {
        QCOMPARE(m_directoryBeforeApp, QCoreApplication::applicationDirPath());
    }

    // The branding file shipped with the program names this product line.
    void shippedFile()
    {
        const QString bin = qEnvironmentVariable("PELLWORTH_BIN_DIR");
        if (bin.isEmpty())
            QSKIP("PELLWORTH_BIN_DIR not set");
        AppBranding::Record record;
        QVERIFY(AppBranding::loadInto(record, bin + "/Resources"));
        QCOMPARE(record.appName, QStringLiteral("Pellworth"));
        QCOMPARE(record.fullAppName, QStringLiteral("Tendwell Pellworth"));
        QVERIFY(record.noDeviceMessage.contains(QStringLiteral("add a network recorder")));
        QVERIFY(!record.noDeviceMessage.contains(QStringLiteral("%accent_colour%")));
        QVERIFY(!record.badInstallMessage.isEmpty());
        QVERIFY(QFileInfo(record.aboutIconPath).isFile());
    }

    // Runs last among the accessor tests: it changes the module's own record.
    void hostAccessors()
    {
        QTemporaryDir dir;
        AppBranding::Record& record = AppBranding::instance();
        QVERIFY(AppBranding::loadInto(
            record,
            writeSettings(dir, "product=Kestrel\nproduct_singular=Kestrel\nuse_an_not_a=1\n"
                               "no_device_header=Aucun appareil trouvé\nrelease_year=2020")));
        QCOMPARE(AppBranding::appName(), QStringLiteral("Kestrel Setup"));
        QCOMPARE(AppBranding::fullAppName(), QStringLiteral("Corvane Kestrel Setup"));
        QCOMPARE(AppBranding::companyName(), QStringLiteral("Corvane Design"));
        QCOMPARE(AppBranding::releaseYear(), QStringLiteral("2020"));
        QCOMPARE(AppBranding::aboutMenuText(), QStringLiteral("About Kestrel Setup"));
        QCOMPARE(AppBranding::noDeviceFoundText(), QStringLiteral("No Kestrel found"));
        // The article follows the flag alone, whatever the word.
        QCOMPARE(AppBranding::addDeviceText(), QStringLiteral("Add an Kestrel"));
        record.useAnNotA = false;
        record.productSingular = QStringLiteral("Owl");
        QCOMPARE(AppBranding::addDeviceText(), QStringLiteral("Add a Owl"));
        // Configured texts outside Latin-1 reach the screen unchanged.
        QCOMPARE(AppBranding::noDeviceHeader(), QStringLiteral("Aucun appareil trouvé"));
        QVERIFY(!AppBranding::noDevicePixmap().isNull());
        QVERIFY(!AppBranding::badInstallPixmap().isNull());
    }

    void flagsOnlyEverSwitchOn()
    {
        QVERIFY(!AppBranding::usesNetworkDevices());
        QVERIFY(!AppBranding::hasCustomPage());
        AppBranding::setUsesNetworkDevices(true);
        AppBranding::setHasCustomPage(true);
        AppBranding::setUsesNetworkDevices(false);
        AppBranding::setHasCustomPage(false);
        QVERIFY(AppBranding::usesNetworkDevices());
        QVERIFY(AppBranding::hasCustomPage());
    }

private:
    QString m_directoryBeforeApp;
};

int main(int argc, char* argv[])
{
    // The branding is read before any application object exists.
    const QString early = AppBranding::programDirectory();
    QApplication app(argc, argv);
    TestBranding test(early);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_branding.moc"
