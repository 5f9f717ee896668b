#include "plugins/recorder/kestrelusbconnection.h"

#include "plugins/recorder/connectionprobe.h"
#include "plugins/recorder/ikestrel.h"
#include "usb/driver/waitclock.h"

#include <QDateTime>
#include <QPointer>

#include <atomic>

using CVN::DiskRecorder::ConnectionProbe;
using CVN::USB::WaitClock;

namespace {
// Shared by every connection of the plug-in, so unanswered polls of several units add up.
std::atomic<int> s_failures{0};
} // namespace

KestrelUSBConnection::KestrelUSBConnection(CVN::DiskRecorder::IKestrel* device, quint32 model,
                                           QObject* parent)
    : KestrelConnection(model, parent)
    , m_device(device)
    , m_pollTimer(this)
    , m_clock(WaitClock::system())
{
    if (m_device)
        m_device->addRef();
    m_pollTimer.setInterval(kPollIntervalMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &KestrelUSBConnection::pollConnection);
    m_pollTimer.start();
}

KestrelUSBConnection::~KestrelUSBConnection()
{
    m_pollTimer.stop();
    if (m_device)
        m_device->release();
}

void KestrelUSBConnection::setWaitClock(std::shared_ptr<WaitClock> clock)
{
    m_clock = std::move(clock);
}

int KestrelUSBConnection::failureCount()
{
    return s_failures.load();
}

void KestrelUSBConnection::resetFailureCount()
{
    s_failures = 0;
}

bool KestrelUSBConnection::isLegacy()
{
    return m_device && m_device->isLegacy();
}

void KestrelUSBConnection::startPolling()
{
    if (!m_pollTimer.isActive())
        m_pollTimer.start();
}

void KestrelUSBConnection::stopPolling()
{
    m_pollTimer.stop();
}

void KestrelUSBConnection::reportFirmwareNeeded()
{
    stopPolling();
    emit requiresFirmwareUpdate(false);
    s_failures = 0;
}

void KestrelUSBConnection::pollConnection()
{
    if (!m_open) {
        auto state = m_device ? ConnectionProbe::probe(*m_device) : ConnectionProbe::NotConnected;
        if (state == ConnectionProbe::Incompatible) {
            // A unit this program cannot talk to is offered new firmware at once.
            s_failures = kFailureLimit;
            state = ConnectionProbe::NotConnected;
        }
        if (state == ConnectionProbe::NotConnected) {
            if (++s_failures > kFailureLimit)
                reportFirmwareNeeded();
            return;
        }
        if (!m_device->isFirmwareCurrent()) {
            reportFirmwareNeeded();
            return;
        }
        m_device->setClock(std::uint32_t(QDateTime::currentSecsSinceEpoch()));
        s_failures = 0;
        m_open = true;
        readSettings();
        // A slot may delete the connection (the card closing).
        const QPointer<KestrelUSBConnection> alive(this);
        emit connectionOpened();
        if (!alive)
            return;
    }
    if (m_device->settingsChanged())
        readSettings();
}

void KestrelUSBConnection::readSettings()
{
    KestrelSettings fresh;
    if (m_device->readSettings(fresh))
        updateCache(fresh);
}

void KestrelUSBConnection::waitUntilReady()
{
    // The write goes ahead after the wait whether or not the unit answered.
    m_clock->pollUntil((kReadyWaitLooks - 1) * kReadyWaitIntervalMs, kReadyWaitIntervalMs, [this] {
        return ConnectionProbe::isConnected(*m_device) ? WaitClock::Poll::Ready
                                                       : WaitClock::Poll::Again;
    });
}

bool KestrelUSBConnection::writeSettings(const KestrelSettings& settings)
{
    if (!m_device) {
        emit connectionLost();
        return false;
    }
    bool busy = false;
    if (!m_device->isBusy(busy)) {
        emit connectionLost();
        return false;
    }
    if (busy) {
        emit deviceBusy();
        return false;
    }
    if (m_device->isLegacy()) {
        const auto code = KestrelSettings::legacyFourCC(settings.legacyCodec);
        if (!KestrelSettings::isCodecSupported(code, *m_device)) {
            m_settingsError = true;
            emit requiresFirmwareUpdate(true);
            return false;
        }
    }
    waitUntilReady();
    if (m_device->writeSettings(settings))
        return true;
    emit connectionLost();
    return false;
}
