#include "fx2fixture.h"

#include "usb/fx2/nxplpchardwareaccess.h"

#include <QtTest>

using namespace CVN::USB;

namespace {
constexpr uint32_t kFlashSize = 32768;
constexpr uint32_t kPage = 512;
} // namespace

class SwdTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void programAndVerifyImage();
    void verifyFailsAfterOneFlippedByte();
    void connectSetsUpTheAccessPort();
    void connectWithoutPowerUpAcknowledgeFails();
    void eraseFlashWholeChip();
    void eraseWithErrorStatusFails_data();
    void eraseWithErrorStatusFails();
    void programmingTooLongIsRefused();
    void shortPageIsZeroPadded();
    void writePageNeedsProgramming();
    void targetWithOneComparatorSkipsWatchpoints();
    void bootThatNeverHaltsTimesOut();
    void lockUpEndsTheWaitAtOnce();
    void slowHaltIsWaitedFor();
    void accessPortFaultClearsStickyErrors();

private:
    // Programs `image` page by page; the device's target is the SWD bridge each time.
    bool program(const std::vector<uint8_t>& image);
    std::vector<bool> verify(const std::vector<uint8_t>& image);

    std::unique_ptr<Fx2Bench> m_bench;
    TestFx2Device* m_device = nullptr;
    std::unique_ptr<NxpLpcHardwareAccess> m_cpu;
};

void SwdTest::init()
{
    m_bench = std::make_unique<Fx2Bench>();
    m_device = m_bench->openDevice();
    QVERIFY(m_device);
    m_device->setHardwareTarget(kModeSwd);
    m_cpu = std::make_unique<NxpLpcHardwareAccess>(m_device);
}

void SwdTest::cleanup()
{
    m_cpu.reset();
    m_bench.reset();
}

bool SwdTest::program(const std::vector<uint8_t>& image)
{
    m_device->setHardwareTarget(kModeSwd);
    if (!m_cpu->beginProgramming(uint32_t(image.size())))
        return false;
    for (size_t at = 0; at < image.size(); at += kPage) {
        const uint32_t n = uint32_t(std::min<size_t>(kPage, image.size() - at));
        if (!m_cpu->writePage(image.data() + at, n))
            return false;
    }
    return m_cpu->endProgramming();
}

std::vector<bool> SwdTest::verify(const std::vector<uint8_t>& image)
{
    std::vector<bool> pages;
    m_device->setHardwareTarget(kModeSwd);
    if (!m_cpu->beginVerify())
        return pages;
    for (size_t at = 0; at < image.size(); at += kPage) {
        const uint32_t n = uint32_t(std::min<size_t>(kPage, image.size() - at));
        pages.push_back(m_cpu->verifyPage(image.data() + at, uint32_t(at), n));
    }
    if (!m_cpu->endVerify())
        pages.clear();
    return pages;
}

void SwdTest::programAndVerifyImage()
{
    m_bench->lpc->setFlash(0, patternBytes(kFlashSize, 99)); // old firmware, erased first
    const std::vector<uint8_t> image = patternBytes(kFlashSize, 42);
    QVERIFY(program(image));
    QCOMPARE(m_bench->lpc->flash(), image);
    QVERIFY(!m_bench->model->inHardwareAccess());
    QCOMPARE(m_cpu->nextFlashAddress(), kFlashSize);
    QVERIFY(!m_cpu->isProgramming());

    const std::vector<bool> pages = verify(image);
    QCOMPARE(pages, std::vector<bool>(kFlashSize / kPage, true));
    QVERIFY(!m_bench->model->inHardwareAccess());

    // prepare + erase, then prepare + copy per page, then one compare per page.
    const auto commands = m_bench->lpc->iapCommands();
    QCOMPARE(int(commands.size()), 2 + 2 * 64 + 64);
    QCOMPARE(commands[0], 50u);
    QCOMPARE(commands[1], 52u);
    QCOMPARE(commands[3], 51u);
    QCOMPARE(commands.back(), 56u);
}

void SwdTest::verifyFailsAfterOneFlippedByte()
{
    const std::vector<uint8_t> image = patternBytes(kFlashSize, 7);
    QVERIFY(program(image));
    std::vector<uint8_t> flash = m_bench->lpc->flash();
    flash[5 * kPage + 123] ^= 0x10;
    m_bench->lpc->setFlash(0, flash);

    std::vector<bool> expected(kFlashSize / kPage, true);
    expected[5] = false;
    QCOMPARE(verify(image), expected);
}

void SwdTest::connectSetsUpTheAccessPort()
{
    QVERIFY(m_cpu->beginVerify());
    // 32-bit accesses with single increment, the rest of CSW kept.
    QCOMPARE(m_bench->swd->csw(), (0x03000040u & ~0x25u) | 0x12u);
    const auto entered = m_bench->controlRequests(Sim::Fx2Peripheral::EnterHardwareAccess);
    QCOMPARE(entered.at(0).setup.index, uint16_t(kModeSwd));
    // Register requests carry APnDP and the address bits only, values high byte first.
    const auto writes = m_bench->controlRequests(Sim::Fx2Peripheral::SwdWrite);
    QCOMPARE(writes.at(0).setup.index, uint16_t(0x0004)); // DP CTRL/STAT
    QCOMPARE(writes.at(0).data, (std::vector<uint8_t>{0x50, 0x00, 0x00, 0x00}));
    QVERIFY(m_cpu->endVerify());

    // An access port without a memory-mapped CSW to set up: left as it is.
    m_bench->swd->setAccessPortIdr(0x24760011);
    m_bench->swd->setCsw(0x03000040);
    m_device->setHardwareTarget(kModeSwd);
    QVERIFY(m_cpu->beginVerify());
    QCOMPARE(m_bench->swd->csw(), 0x03000040u);
    QVERIFY(m_cpu->endVerify());
}

void SwdTest::connectWithoutPowerUpAcknowledgeFails()
{
    m_bench->swd->setAcknowledgePowerUp(false);
    m_bench->lpc->setFlash(0, patternBytes(kFlashSize, 3));
    QVERIFY(!m_cpu->beginProgramming(kFlashSize));
    QVERIFY(!m_cpu->isProgramming());
    QCOMPARE(int(m_bench->controlRequests(Sim::Fx2Peripheral::SwdRead).size()),
             1 + 101); // IDCODE, CTRL/STAT polls
    QVERIFY(m_bench->lpc->iapCommands().empty());
    QVERIFY(!m_bench->model->inHardwareAccess());

    m_device->setHardwareTarget(kModeSwd);
    QVERIFY(!m_cpu->eraseFlash(0));
    m_device->setHardwareTarget(kModeSwd);
    QVERIFY(!m_cpu->beginVerify());
    QVERIFY(!m_bench->model->inHardwareAccess());
    QVERIFY(m_bench->lpc->iapCommands().empty());
    QCOMPARE(m_bench->lpc->flash(), patternBytes(kFlashSize, 3));
}

void SwdTest::eraseFlashWholeChip()
{
    m_bench->lpc->setFlash(0, patternBytes(kFlashSize, 3));
    QVERIFY(m_cpu->eraseFlash(0));
    QCOMPARE(m_bench->lpc->flash(), std::vector<uint8_t>(kFlashSize, 0xFF));
    QCOMPARE(m_bench->lpc->iapCommands(), (std::vector<uint32_t>{50, 52}));
    QVERIFY(!m_bench->model->inHardwareAccess());
    QCOMPARE(m_bench->lpc->resets(), 1);
}

void SwdTest::eraseWithErrorStatusFails_data()
{
    QTest::addColumn<uint>("command");
    QTest::addColumn<uint>("status");
    QTest::newRow("prepare refused") << 50u << 7u;
    QTest::newRow("erase reports busy") << 52u << 11u;
    QTest::newRow("erase reports sector not prepared") << 52u << 9u;
}

void SwdTest::eraseWithErrorStatusFails()
{
    QFETCH(uint, command);
    QFETCH(uint, status);
    m_bench->lpc->setFlash(0, patternBytes(kFlashSize, 3));
    m_bench->lpc->forceIapStatus(command, status);
    QVERIFY(!m_cpu->eraseFlash(4096));
    m_device->setHardwareTarget(kModeSwd);
    QVERIFY(!m_cpu->beginProgramming(4096));
    QVERIFY(!m_cpu->isProgramming());
    QVERIFY(!m_bench->model->inHardwareAccess());
    QCOMPARE(m_bench->lpc->flash(), patternBytes(kFlashSize, 3));
}

void SwdTest::programmingTooLongIsRefused()
{
    QVERIFY(!m_cpu->beginProgramming(kFlashSize + 1)); // nine sectors
    QVERIFY(m_bench->lpc->iapCommands().empty());
    QVERIFY(!m_bench->model->inHardwareAccess());
    QVERIFY(!m_bench->controlRequests(Sim::Fx2Peripheral::LeaveHardwareAccess).empty());
}

void SwdTest::shortPageIsZeroPadded()
{
    QVERIFY(m_cpu->beginProgramming(4096));
    const std::vector<uint8_t> data = patternBytes(100, 8);
    QVERIFY(m_cpu->writePage(data.data(), 100));
    QVERIFY(m_cpu->endProgramming());
    std::vector<uint8_t> expected = data;
    expected.resize(kPage, 0);
    const std::vector<uint8_t> flash = m_bench->lpc->flash();
    QCOMPARE(std::vector<uint8_t>(flash.begin(), flash.begin() + kPage), expected);
    QCOMPARE(flash[kPage], uint8_t(0xFF));
}

void SwdTest::writePageNeedsProgramming()
{
    const std::vector<uint8_t> data(kPage, 1);
    QVERIFY(!m_cpu->writePage(data.data(), kPage));
    QVERIFY(!m_cpu->endProgramming());
    QVERIFY(m_bench->log().empty());
    QVERIFY(m_cpu->beginProgramming(kPage));
    QVERIFY(!m_cpu->writePage(data.data(), kPage + 1));
    QVERIFY(m_cpu->endProgramming());
}

void SwdTest::targetWithOneComparatorSkipsWatchpoints()
{
    m_bench->lpc->setComparators(1);
    const std::vector<uint8_t> image = patternBytes(4096, 5);
    QVERIFY(program(image));
    const std::vector<uint8_t> flash = m_bench->lpc->flash();
    QCOMPARE(std::vector<uint8_t>(flash.begin(), flash.begin() + 4096), image);
    QCOMPARE(m_device->sleptMs, uint64_t(0)); // no wait for a boot halt
}

void SwdTest::bootThatNeverHaltsTimesOut()
{
    m_bench->lpc->setRemapRegister(0x40000000); // boot code the watchpoints do not catch
    QVERIFY(!m_cpu->beginProgramming(4096));
    QVERIFY(!m_bench->model->inHardwareAccess());
    QVERIFY(m_bench->lpc->iapCommands().empty());
    QCOMPARE(m_device->sleptMs, uint64_t((2000 + 4) / 5 * 5));
}

void SwdTest::lockUpEndsTheWaitAtOnce()
{
    m_bench->lpc->setLockUpOnRun(true);
    QVERIFY(!m_cpu->beginVerify());
    QCOMPARE(m_device->sleptMs, uint64_t(0));
    QVERIFY(!m_bench->model->inHardwareAccess());
}

void SwdTest::slowHaltIsWaitedFor()
{
    m_bench->lpc->setHaltDelayReads(3);
    QVERIFY(m_cpu->eraseFlash(4096));
    // Three polls 5 ms apart for the boot halt, three for each of the two IAP calls.
    QCOMPARE(m_device->sleptMs, uint64_t(3 * 3 * 5));
}

void SwdTest::accessPortFaultClearsStickyErrors()
{
    m_bench->swd->failAccessPortAccess(12);
    QVERIFY(!m_cpu->beginProgramming(4096));
    QCOMPARE(m_bench->swd->aborts(), 1);
    QVERIFY(!m_bench->swd->stickyError());
    QVERIFY(!m_bench->model->inHardwareAccess());

    // The next attempt goes through.
    const std::vector<uint8_t> image = patternBytes(4096, 6);
    QVERIFY(program(image));
    const std::vector<uint8_t> flash = m_bench->lpc->flash();
    QCOMPARE(std::vector<uint8_t>(flash.begin(), flash.begin() + 4096), image);
}

QTEST_GUILESS_MAIN(SwdTest)
#include "tst_swd.moc"
