#include "fakebonjourservice.h"
#include "framework/appbranding.h"
#include "host/aboutbox.h"
#include "host/addbyipaddresscontroller.h"
#include "host/badinstalldialog.h"
#include "host/mainwindow.h"
#include "testfamily.h"

#include <QtTest>

// Pictures of the window for a person to look at; the checks only make sure they were written.
class TestScreenshots : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void twoDevices();
    void noDevice();
    void badInstall();
    void addByIpDialog();
    void aboutBox();

private:
    std::unique_ptr<MainWindow> window();
    // Started, with one network family.
    std::unique_ptr<MainWindow> runningWindow(TestFamily** family = nullptr);
    void save(QWidget* widget, const QString& name);

    QString m_folder;
};

void TestScreenshots::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(AppBranding::loadInto(AppBranding::instance(),
                                  qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/Resources"));
    AppBranding::instance().appName = QStringLiteral("PellworthTest-screenshots");
    m_folder = qEnvironmentVariable("PELLWORTH_SCREENSHOT_DIR", QDir::currentPath());
    QVERIFY(QDir().mkpath(m_folder));
}

std::unique_ptr<MainWindow> TestScreenshots::runningWindow(TestFamily** family)
{
    auto w = window();
    auto* demo = new TestFamily("Demo", w.get());
    demo->setProperty("network", true);
    w->addFamily(demo);
    w->show();
    if (!QTest::qWaitFor([&] { return w->isStarted(); }))
        return nullptr;
    if (family)
        *family = demo;
    return w;
}

std::unique_ptr<MainWindow> TestScreenshots::window()
{
    MainWindow::Options options;
    options.bonjour = std::make_shared<FakeBonjourService>();
    options.warmUpWebEngine = false;
    auto window = std::make_unique<MainWindow>(options);
    window->resize(780, 720);
    return window;
}

void TestScreenshots::save(QWidget* widget, const QString& name)
{
    QTest::qWait(50);
    const QString path = m_folder + "/" + name + ".png";
    QVERIFY(widget->grab().save(path));
    QVERIFY(QFileInfo(path).size() > 0);
}

void TestScreenshots::twoDevices()
{
    TestFamily* family = nullptr;
    auto w = runningWindow(&family);
    QVERIFY(w);
    TestDevice* recorder = family->addDevice("Studio Recorder", QColor(1, 171, 255));
    recorder->status = "Connected by USB";
    family->addDevice("Deck Controller", QColor(255, 140, 0));
    w->deviceList()->select(w->deviceList()->indexOf(recorder));
    save(w.get(), "host_two_devices");
}

void TestScreenshots::noDevice()
{
    auto w = runningWindow();
    QVERIFY(w);
    save(w.get(), "host_no_device");
}

void TestScreenshots::badInstall()
{
    auto w = window();
    w->show();
    QTRY_VERIFY(w->isStarted());
    new BadInstallDialog(w.get(), "Bad Install",
                         "Your software installation has become corrupted and is missing some "
                         "components.",
                         "Close");
    save(w.get(), "host_bad_install");
}

void TestScreenshots::addByIpDialog()
{
    auto w = runningWindow();
    QVERIFY(w);
    w->addByIpController()->showDialog();
    save(w.get(), "host_add_by_ip");
}

void TestScreenshots::aboutBox()
{
    AboutBox box;
    box.setPicture(AppBranding::appIcon());
    box.setName(AppBranding::instance().appName);
    box.setVersion(AppBranding::releaseVersion());
    box.setYear(AppBranding::releaseYear());
    save(&box, "host_about");
}

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
