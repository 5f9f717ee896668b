#include "fakebonjourservice.h"
#include "framework/appbranding.h"
#include "framework/contract/family.h"
#include "host/mainwindow.h"
#include "host/pluginloading.h"
#include "privatenetwork.h"

#include <QApplication>
#include <QtTest>

#include <link.h>

class TestPluginLoading : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void directories_data();
    void directories();
    void loadsInOrderAndUnloadsWhatItRejects();
    void nothingUsableGivesNoFamily();
    void productPlugInsLeaveFirmwareLibrariesUnloaded();

private:
    static QString tree(const QString& folder)
    {
        return qEnvironmentVariable("HOST_PLUGIN_TREE") + QLatin1Char('/') + folder;
    }
    static QStringList familyNames(const MainWindow& window)
    {
        QStringList names;
        for (Family* family : window.families())
            names.append(family->name());
        return names;
    }
    // The shared objects of the process whose file names start with one of the prefixes.
    static QStringList mappedLibraries(const QStringList& prefixes)
    {
        struct Search
        {
            const QStringList* prefixes;
            QStringList found;
        } search{&prefixes, {}};
        dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* data) {
                auto* search = static_cast<Search*>(data);
                const QString name = QFileInfo(QString::fromLocal8Bit(info->dlpi_name)).fileName();
                for (const QString& prefix : *search->prefixes)
                    if (name.startsWith(prefix))
                        search->found.append(name);
                return 0;
            },
            &search);
        return search.found;
    }
    static MainWindow::Options options()
    {
        MainWindow::Options options;
        options.bonjour = std::make_shared<FakeBonjourService>();
        options.warmUpWebEngine = false;
        return options;
    }
};

void TestPluginLoading::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    AppBranding::instance().appName = QStringLiteral("PellworthTest-pluginloading");
}

void TestPluginLoading::directories_data()
{
    QTest::addColumn<QStringList>("subFolders");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("sorted sub-folders") << QStringList{"Quenby", "Brindle", "Tamsett"} << QString()
                                        << QStringList{"Brindle", "Quenby", "Tamsett"};
    QTest::newRow("variable last") << QStringList{"Tamsett"} << QStringLiteral("/opt/extra")
                                   << QStringList{"Tamsett", "/opt/extra"};
    QTest::newRow("no plug-ins folder")
        << QStringList() << QStringLiteral("/opt/extra") << QStringList{"/opt/extra"};
}

void TestPluginLoading::directories()
{
    QFETCH(QStringList, subFolders);
    QFETCH(QString, variable);
    QFETCH(QStringList, expected);

    QTemporaryDir program;
    QVERIFY(program.isValid());
    const QString root = program.path() + "/Tendwell/PlugIns";
    for (const QString& folder : subFolders)
        QVERIFY(QDir().mkpath(root + "/" + folder));
    if (!subFolders.isEmpty()) {
        // Files straight in the plug-ins folder are not searched.
        QFile stray(root + "/libstray.so");
        QVERIFY(stray.open(QIODevice::WriteOnly));
    }
    qputenv("CVN_ADMIN_PLUGIN_PATH", variable.toLocal8Bit());

    QStringList wanted;
    for (const QString& entry : expected)
        wanted.append(entry.startsWith('/') ? entry : root + "/" + entry);
    QCOMPARE(pluginDirectories(program.path()), wanted);
    qunsetenv("CVN_ADMIN_PLUGIN_PATH");
}

void TestPluginLoading::loadsInOrderAndUnloadsWhatItRejects()
{
    MainWindow window(options());
    loadPlugins({tree("one"), tree("two")}, &window);

    QCOMPARE(familyNames(window), (QStringList{"Alpha", "Beta 1", "Beta 2", "Gamma"}));
    for (Family* family : window.families())
        QCOMPARE(family->parent(), &window);

    QVERIFY(QPluginLoader(tree("one/libtestalpha.so")).isLoaded());
    QVERIFY(QPluginLoader(tree("one/libtestbeta.so")).isLoaded());
    QVERIFY(QPluginLoader(tree("two/libtestgamma.so")).isLoaded());
    QVERIFY(!QPluginLoader(tree("one/libtestfailing.so")).isLoaded());
    QVERIFY(!QPluginLoader(tree("one/libtestother.so")).isLoaded());
    QVERIFY(!QPluginLoader(tree("one/libtestplain.so")).isLoaded());
}

void TestPluginLoading::nothingUsableGivesNoFamily()
{
    MainWindow window(options());
    // A folder that does not exist is passed over like an empty one.
    loadPlugins({tree("failingonly"), tree("missing")}, &window);
    QVERIFY(window.families().isEmpty());
    QVERIFY(!QPluginLoader(tree("failingonly/libtestfailingonly.so")).isLoaded());
}

void TestPluginLoading::productPlugInsLeaveFirmwareLibrariesUnloaded()
{
    SKIP_WITHOUT_PRIVATE_NETWORK();
    // Most starts read no firmware package, so the libraries that read one wait for the first.
    const QStringList firmwareLibraries{QStringLiteral("libcrypto.so"), QStringLiteral("libisal.so")};
    QCOMPARE(mappedLibraries(firmwareLibraries), QStringList());

    MainWindow window(options());
    loadPlugins(pluginDirectories(qEnvironmentVariable("PELLWORTH_BIN_DIR")), &window);
    QStringList plugIns = mappedLibraries({"libTamsett", "libBrindle", "libQuenby"});
    plugIns.sort();
    QCOMPARE(plugIns, (QStringList{"libBrindle.so", "libQuenby.so", "libTamsett.so"}));
    QVERIFY(!window.families().isEmpty());
    QCOMPARE(mappedLibraries(firmwareLibraries), QStringList());
}

PRIVATE_NETWORK_TEST_MAIN_WITH(QApplication, TestPluginLoading)
#include "tst_pluginloading.moc"
