#include "plugins/shared/firmwarefilelocator.h"

#include <QtTest>

namespace {

std::string g_programPathBeforeApplication;

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

// A package file beside the program, removed again at the end of the test.
struct FileBesideProgram
{
    FileBesideProgram()
        : file(programDir() + QStringLiteral("/data-XXXXXX.bin"))
    {
        QVERIFY(file.open());
        file.write("package");
        file.close();
        name = QFileInfo(file.fileName()).fileName().toStdString();
    }
    QTemporaryFile file;
    std::string name;
};

} // namespace

class TestFirmwareFileLocator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();
    void programPathNeedsNoApplication();
    void foundBesideProgram();
    void missingBesideProgramIsEmpty();
    void directoryBesideProgramIsNotAFile();
    void secondCallKeepsPath();
    void resourcesFolderIsTakenWithoutLooking();
    void resourcesFolderWinsOverProgramFolder();
};

void TestFirmwareFileLocator::init()
{
    FirmwareFileLocator::setResourcesDirectory({});
}

void TestFirmwareFileLocator::cleanupTestCase()
{
    QDir(programDir()).rmdir(QStringLiteral("data-dir.bin"));
}

void TestFirmwareFileLocator::programPathNeedsNoApplication()
{
    QVERIFY(!g_programPathBeforeApplication.empty());
    QCOMPARE(QString::fromStdString(g_programPathBeforeApplication),
             QCoreApplication::applicationFilePath());
}

void TestFirmwareFileLocator::foundBesideProgram()
{
    FileBesideProgram package;
    FirmwareFileLocator locator(package.name);
    const std::string expected = programDir().toStdString() + "/" + package.name;
    QCOMPARE(locator.firmwareFilePath(), expected);
    QCOMPARE(locator.path, expected);
}

void TestFirmwareFileLocator::missingBesideProgramIsEmpty()
{
    FirmwareFileLocator locator("data-0000-not-there.bin");
    QCOMPARE(locator.firmwareFilePath(), std::string());
    QCOMPARE(locator.path, std::string());
}

void TestFirmwareFileLocator::directoryBesideProgramIsNotAFile()
{
    QVERIFY(QDir(programDir()).mkpath(QStringLiteral("data-dir.bin")));
    FirmwareFileLocator locator("data-dir.bin");
    QCOMPARE(locator.firmwareFilePath(), std::string());
}

void TestFirmwareFileLocator::secondCallKeepsPath()
{
    std::string first;
    FirmwareFileLocator locator("");
    {
        FileBesideProgram package;
        locator.fileName = package.name;
        first = locator.firmwareFilePath();
        QVERIFY(!first.empty());
    }
    // The file is gone and a resources folder has appeared: the kept path still answers.
    FirmwareFileLocator::setResourcesDirectory("/elsewhere/Resources");
    QCOMPARE(locator.firmwareFilePath(), first);
}

void TestFirmwareFileLocator::resourcesFolderIsTakenWithoutLooking()
{
    FirmwareFileLocator::setResourcesDirectory("/nonexistent/Tamsett/Resources");
    FirmwareFileLocator locator("data-c34c.bin");
    QCOMPARE(locator.firmwareFilePath(),
             std::string("/nonexistent/Tamsett/Resources/data-c34c.bin"));
    QVERIFY(!QFile::exists(QString::fromStdString(locator.path)));
}

void TestFirmwareFileLocator::resourcesFolderWinsOverProgramFolder()
{
    FileBesideProgram package;
    const QTemporaryDir resources;
    QVERIFY(resources.isValid());
    FirmwareFileLocator::setResourcesDirectory(resources.path().toStdString());
    FirmwareFileLocator locator(package.name);
    QCOMPARE(locator.firmwareFilePath(), resources.path().toStdString() + "/" + package.name);
}

int main(int argc, char** argv)
{
    g_programPathBeforeApplication = FirmwareFileLocator::programPath();
    QCoreApplication app(argc, argv);
    TestFirmwareFileLocator test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_firmwarefilelocator.moc"
