#include "plugins/recorder/kestrelxmegastreamingusbdevice.h"

#include "plugins/recorder/kestrelmodeltable.h"
#include "plugins/recorder/kestrelsettings.h"
#include "plugins/recorder/kestreltransportclient.h"
#include "plugins/recorder/kestrelxmegausbdevice.h"
#include "plugins/recorder/netconfigclient.h"
#include "plugins/recorder/rtcclient.h"
#include "plugins/recorder/settingsfinchclient.h"
#include "plugins/recorder/versionclient.h"
#include "usb/rpc/streamingrpcdevice.h"
#include "usb/rpc/vornosrpcexception.h"

#include <cstdio>
#include <stdexcept>

namespace CVN {
namespace DiskRecorder {

namespace {

constexpr std::uint16_t kProductIds[] = {0xC3E4, 0xBE0F};
constexpr std::uint32_t kExpectedCpuVersion = 0x1633975A;
constexpr std::uint8_t kExpectedStreamingFpgaVersion = 0x11;

// Container 2 goes with QuickTime entries, 3 with MXF; H.264 uses 1.
constexpr KestrelXmegaStreamingUSBDevice::Codec
    kCodecs[KestrelXmegaStreamingUSBDevice::kCodecCount] = {
        {"ProRes:HQ", 2},  {"ProRes:Original", 2}, {"ProRes:LT", 2}, {"ProRes:Proxy", 2},
        {"DNx:HD220x", 2}, {"DNx:HD220x", 3},      {"DNx:HD145", 2}, {"DNx:HD145", 3},
        {"DNx:HD45", 2},   {"DNx:HD45", 3},        {"DNx:HRHQX", 2}, {"DNx:HRHQX", 3},
        {"DNx:HRSQ", 2},   {"DNx:HRSQ", 3},        {"DNx:HRLB", 2},  {"DNx:HRLB", 3},
        {"H264:High", 1},  {"H264:Medium", 1},     {"H264:Low", 1},
};

bool isStreamingProduct(std::uint16_t pid)
{
    for (std::uint16_t id : kProductIds) {
        if (pid == id)
            return true;
    }
    return false;
}

} // namespace

KestrelXmegaStreamingUSBDevice::KestrelXmegaStreamingUSBDevice(const Handle& handle)
    : m_handle(handle)
    , m_clock(CVN::USB::WaitClock::system())
{
}

KestrelXmegaStreamingUSBDevice::~KestrelXmegaStreamingUSBDevice() = default;

void KestrelXmegaStreamingUSBDevice::setClock(std::shared_ptr<CVN::USB::WaitClock> clock)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock = clock ? std::move(clock) : CVN::USB::WaitClock::system();
}

const KestrelXmegaStreamingUSBDevice::Codec&
KestrelXmegaStreamingUSBDevice::codec(std::uint32_t index)
{
    static const Codec none = {"", 0};
    return index < kCodecCount ? kCodecs[index] : none;
}

std::uint32_t KestrelXmegaStreamingUSBDevice::codecIndex(const std::string& name,
                                                         std::uint8_t container)
{
    for (std::uint32_t i = 0; i < kCodecCount; ++i) {
        if (name == kCodecs[i].name && container == kCodecs[i].container)
            return i;
    }
    return kCodecCount;
}

std::shared_ptr<VornOSRPC::StreamingRpcDevice> KestrelXmegaStreamingUSBDevice::rpc()
{
    std::shared_ptr<StreamingXmegaUSBDevice> device = m_handle.current();
    if (!device)
        throw std::runtime_error("Recorder not present");
    auto rpc = std::make_shared<VornOSRPC::StreamingRpcDevice>(device);
    std::lock_guard<std::mutex> lock(m_mutex);
    rpc->setClock(m_clock);
    return rpc;
}

bool KestrelXmegaStreamingUSBDevice::isConnected()
{
    std::shared_ptr<StreamingXmegaUSBDevice> device = m_handle.current();
    try {
        return device && device->waitReady(0);
    } catch (const VornOSRPC::IncompatiableProtocolException&) {
        throw;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestrelXmegaStreamingUSBDevice::getProductId(std::uint16_t& productId)
{
    std::shared_ptr<StreamingXmegaUSBDevice> device = m_handle.current();
    if (!device)
        return false;
    try {
        productId = device->productId();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void KestrelXmegaStreamingUSBDevice::getName(std::string& name)
{
    std::uint16_t pid = 0;
    const int model =
        getProductId(pid) ? KestrelModelTable::model(pid) : KestrelModelTable::UnknownModel;
    name = KestrelModelTable::name(model).toStdString();
}

bool KestrelXmegaStreamingUSBDevice::getCapabilities(std::uint32_t&)
{
    return false;
}

bool KestrelXmegaStreamingUSBDevice::settingsChanged()
{
    return false;
}

bool KestrelXmegaStreamingUSBDevice::isBusy(bool& busy)
{
    busy = false;
    return true;
}

bool KestrelXmegaStreamingUSBDevice::setCodecMode(std::uint32_t)
{
    return true;
}

bool KestrelXmegaStreamingUSBDevice::fillVersionCache()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_versionCached)
            return true;
    }
    try {
        VersionClient version;
        version.open(rpc(), kServiceTimeoutMs);
        std::string software = version.versionText(kAppsVersionName);
        const std::uint32_t cpu = version.versionNumber(kAppsVersionName);
        const std::uint8_t fpga = std::uint8_t(version.fpgaVersion());
        std::lock_guard<std::mutex> lock(m_mutex);
        m_softwareVersion = std::move(software);
        m_cpuVersion = cpu;
        m_fpgaVersion = fpga;
        m_versionCached = true;
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

void KestrelXmegaStreamingUSBDevice::invalidateVersionCache()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versionCached = false;
}

unsigned KestrelXmegaStreamingUSBDevice::fpgaVersion()
{
    fillVersionCache();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fpgaVersion;
}

std::uint32_t KestrelXmegaStreamingUSBDevice::cpuChecksum()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cpuVersion;
}

bool KestrelXmegaStreamingUSBDevice::getSoftwareVersion(std::string& version)
{
    if (!fillVersionCache())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    version = m_softwareVersion;
    return true;
}

bool KestrelXmegaStreamingUSBDevice::xmegaChecksumsCurrent()
{
    std::shared_ptr<StreamingXmegaUSBDevice> device = m_handle.current();
    std::uint32_t first = 0, second = 0;
    return device && device->getChecksums(first, second) && first == kExpectedXmegaChecksum &&
           second == kExpectedXmegaChecksum;
}

bool KestrelXmegaStreamingUSBDevice::isFirmwareCurrent()
{
    std::uint16_t pid = 0;
    if (!getProductId(pid) || !isStreamingProduct(pid))
        return false;
    const unsigned fpga = fpgaVersion();
    const std::uint32_t cpu = cpuChecksum();
    return fpga == kExpectedStreamingFpgaVersion && cpu == kExpectedCpuVersion && xmegaChecksumsCurrent();
}

bool KestrelXmegaStreamingUSBDevice::shouldProgramType3()
{
    return !xmegaChecksumsCurrent();
}

bool KestrelXmegaStreamingUSBDevice::setClock(std::uint32_t time)
{
    try {
        RTCClient rtc;
        rtc.open(rpc(), kServiceTimeoutMs);
        rtc.setTime(time, 0);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestrelXmegaStreamingUSBDevice::readSettings(KestrelSettings& settings)
{
    try {
        KestrelTransportClient transport;
        transport.open(rpc(), kServiceTimeoutMs);
        const std::string name = transport.codecName();
        const std::uint8_t container = transport.container();
        const std::uint32_t trigger = transport.trigger();
        settings.codecIndex = codecIndex(name, container);
        settings.trigger = trigger;
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestrelXmegaStreamingUSBDevice::writeSettings(const KestrelSettings& settings)
{
    if (settings.codecIndex >= kCodecCount)
        return false;
    const Codec& row = codec(settings.codecIndex);
    try {
        KestrelTransportClient transport;
        transport.open(rpc(), kServiceTimeoutMs);
        if (transport.selectCodec(row.name, row.container) != 0)
            return false;
        transport.setTrigger(settings.trigger);
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestrelXmegaStreamingUSBDevice::prepareForUpdate()
{
    std::uint16_t pid = 0;
    if (!getProductId(pid) || !isStreamingProduct(pid))
        return true;
    try {
        SettingsFinchClient settings;
        settings.open(rpc(), kServiceTimeoutMs);
        const std::uint8_t value0 = settings.readValue0();
        const std::uint32_t value1 = settings.readValue1();
        const std::uint32_t value2 = settings.readValue2();
        const std::uint32_t value3 = settings.readValue3();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_netValue0 = value0;
        m_netValue1 = value1;
        m_netValue2 = value2;
        m_netValue3 = value3;
        m_netSaved = true;
    } catch (const std::runtime_error&) {
        // The update goes ahead; the unit keeps whatever settings it comes back with.
    }
    return true;
}

bool KestrelXmegaStreamingUSBDevice::rebootAfterUpdate()
{
    std::uint8_t value0 = 0;
    std::uint32_t value1 = 0, value2 = 0, value3 = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_netSaved)
            return true;
        value0 = m_netValue0;
        value1 = m_netValue1;
        value2 = m_netValue2;
        value3 = m_netValue3;
    }
    NetConfigClient net;
    try {
        net.open(rpc(), kServiceTimeoutMs);
    } catch (const std::runtime_error&) {
        std::fputs("Unable to open network service\n", stdout);
        std::fflush(stdout);
        return true;
    }
    try {
        net.writeValue0(0, value0 ? 1 : 0);
        net.writeValue1(0, value1);
        net.writeValue2(0, value2);
        net.writeValue3(0, value3);
    } catch (const std::runtime_error&) {
        // The update itself is done; a setting the unit refuses is not its failure.
    }
    return true;
}

bool KestrelXmegaStreamingUSBDevice::program(ProgramType type, std::uint8_t target,
                                             std::uint32_t address, const std::uint8_t* data,
                                             std::uint32_t size, ProgressCallback progress,
                                             void* context)
{
    std::shared_ptr<StreamingXmegaUSBDevice> device = m_handle.current();
    bool bootloader = false;
    if (!device || !device->isBootloaderMode(bootloader))
        return false;
    invalidateVersionCache();

    switch (type) {
    case ProgramType::XmegaImage:
        if (!data)
            return false;
        if (!bootloader && !m_handle.rebootAndWait(true))
            return false;
        if (progress)
            progress(context, -1.0f);
        for (int attempt = 0; attempt < kDownloadAttempts; ++attempt) {
            device = m_handle.current();
            if (device && device->downloadFirmware(size, data))
                return true;
        }
        return false;
    case ProgramType::FlashImage:
        if (bootloader && !m_handle.rebootAndWait(false))
            return false;
        device = m_handle.current();
        return device && KestrelXmegaUSBDevice::programFlash(
                             *device, target, address, data, size, progress, context,
                             KestrelXmegaUSBDevice::FlashProgress::EraseThenDownload);
    }
    return false;
}

} // namespace DiskRecorder
} // namespace CVN
