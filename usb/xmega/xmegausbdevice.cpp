#include "usb/xmega/xmegausbdevice.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"
#include "usb/driver/findinterfacerequest.h"
#include "usb/driver/iusbdevice.h"
#include "usb/driver/iusbinterface.h"
#include "usb/driver/iusbinterfaceiterator.h"
#include "usb/driver/usbdriverlog.h"
#include "usb/xmega/pageiterator.h"
#include "usb/xmega/usbxmegalog.h"

#include <algorithm>

using namespace CVN::USB;

namespace {

constexpr uint8_t kVendorIn = 0xC1;
constexpr uint8_t kVendorOut = 0x41;
constexpr uint8_t kVendorInDevice = 0xC0;
constexpr uint8_t kBulk = 2;
// wLength is 16 bits: a whole memory page goes out as two halves.
constexpr uint32_t kMaxControlLength = 0xFFFF;

} // namespace

std::shared_ptr<XmegaUSBDevice> XmegaUSBDevice::create(IUSBDevice* usbDevice)
{
    if (!usbDevice)
        return nullptr;
    auto device = std::make_shared<XmegaUSBDevice>(usbDevice);
    if (!device->open())
        return nullptr;
    return device;
}

XmegaUSBDevice::XmegaUSBDevice(IUSBDevice* usbDevice)
    : m_device(usbDevice)
    , m_clock(WaitClock::system())
{
    if (m_device)
        m_device->AddRef();
}

XmegaUSBDevice::~XmegaUSBDevice()
{
    closeAll();
    if (m_device)
        m_device->Release();
}

void XmegaUSBDevice::closeAll()
{
    if (m_interface) {
        m_interface->unregisterForAsyncEvents();
        m_interface->Release();
        m_interface = nullptr;
    }
    if (m_device && m_deviceOpen) {
        m_device->close();
        m_deviceOpen = false;
    }
}

void XmegaUSBDevice::setClock(std::shared_ptr<WaitClock> clock)
{
    m_clock = clock ? std::move(clock) : WaitClock::system();
}

bool XmegaUSBDevice::open()
{
    if (!m_device)
        return false;
    closeAll();
    if (m_device->open() != kCVNUsbSuccess)
        return false;
    m_deviceOpen = true;
    uint8_t configurations = 0;
    if (m_device->configurationCount(&configurations) != kCVNUsbSuccess || configurations == 0 ||
        m_device->selectConfiguration(0) != kCVNUsbSuccess || !openInterface()) {
        closeAll();
        return false;
    }
    return true;
}

bool XmegaUSBDevice::openInterface()
{
    m_interfaceNumber = 0;
    FindInterfaceRequest match;
    match.bInterfaceClass = 0xFF;
    match.bInterfaceSubClass = 0xFF;
    match.bInterfaceProtocol = 0xFF;
    IUSBInterfaceIterator* iterator = nullptr;
    if (m_device->createInterfaceIterator(&match, &iterator) != kCVNUsbSuccess || !iterator)
        return false;
    IUSBInterface* interface = nullptr;
    const bool found = iterator->next(&interface) && interface;
    iterator->Release();
    if (!found)
        return false;
    if (m_interface) {
        m_interface->unregisterForAsyncEvents();
        m_interface->Release();
    }
    m_interface = interface;

    uint8_t endpoints = 0;
    if (m_interface->registerForAsyncEvents() != kCVNUsbSuccess ||
        m_interface->interfaceNumber(&m_interfaceNumber) != kCVNUsbSuccess ||
        m_interface->GetNumEndpoints(&endpoints) != kCVNUsbSuccess)
        return false;

    const uint8_t none = uint8_t(endpoints + 1);
    m_outPipe = none;
    m_inPipe = none;
    m_outPacketSize = 0;
    m_inPacketSize = 0;
    for (uint8_t pipe = 1; pipe <= endpoints && pipe != 0; ++pipe) {
        uint8_t direction = 0, type = 0, interval = 0;
        uint16_t packet = 0;
        if (m_interface->GetPipeProperties(pipe, &direction, &type, &packet, &interval) !=
            kCVNUsbSuccess)
            return false;
        if (type != kBulk)
            continue;
        m_interface->resetPipe(pipe);
        if (direction == 0 && m_outPipe == none) {
            m_outPipe = pipe;
            m_outPacketSize = packet;
        } else if (direction == 1 && m_inPipe == none) {
            m_inPipe = pipe;
            m_inPacketSize = packet;
        }
    }

    bool bootloader = false;
    if (!isBootloaderMode(bootloader))
        return false;
    return bootloader || (m_outPipe != none && m_inPipe != none);
}

void XmegaUSBDevice::makeVendorInRequest(UsbControlRequest& request, uint8_t bRequest) const
{
    request = UsbControlRequest();
    request.bmRequestType = kVendorIn;
    request.bRequest = bRequest;
    request.wIndex = m_interfaceNumber;
    request.timeout = m_requestTimeoutMs;
    request.timeout2 = m_requestTimeoutMs;
}

void XmegaUSBDevice::makeVendorOutRequest(UsbControlRequest& request, uint8_t bRequest) const
{
    makeVendorInRequest(request, bRequest);
    request.bmRequestType = kVendorOut;
}

CVNUsbStatus XmegaUSBDevice::sendControlRequestStatus(UsbControlRequest& request)
{
    const CVNUsbStatus status = m_device ? m_device->controlTransfer(&request) : kCVNUsbNoDevice;
    logControlTransfer(lcUsbXmega, request, status);
    return status;
}

bool XmegaUSBDevice::sendControlRequest(UsbControlRequest& request)
{
    return sendControlRequestStatus(request) == kCVNUsbSuccess;
}

bool XmegaUSBDevice::vendorIn(uint8_t bRequest, void* data, uint16_t length)
{
    UsbControlRequest request;
    makeVendorInRequest(request, bRequest);
    request.wLength = length;
    request.data = data;
    return sendControlRequest(request);
}

bool XmegaUSBDevice::vendorOut(uint8_t bRequest, uint16_t value, const void* data, uint16_t length)
{
    UsbControlRequest request;
    makeVendorOutRequest(request, bRequest);
    request.wValue = value;
    request.wLength = length;
    // An OUT transfer only reads the buffer.
    request.data = const_cast<void*>(data);
    return sendControlRequest(request);
}

bool XmegaUSBDevice::readDeviceWord(CVNUsbStatus (IUSBDevice::*property)(uint16_t*),
                                    uint16_t& value)
{
    uint16_t word = 0;
    if (!m_device || (m_device->*property)(&word) != kCVNUsbSuccess)
        return false;
    value = word;
    return true;
}

bool XmegaUSBDevice::getVendorId(uint16_t& vendorId)
{
    return readDeviceWord(&IUSBDevice::vendorId, vendorId);
}

bool XmegaUSBDevice::getProductId(uint16_t& productId)
{
    return readDeviceWord(&IUSBDevice::productId, productId);
}

bool XmegaUSBDevice::isBootloaderMode(bool& bootloader)
{
    uint8_t flag = 0;
    if (!vendorIn(kIdentity, &flag, 1))
        return false;
    bootloader = flag != 0;
    return true;
}

bool XmegaUSBDevice::getUniqueId(DeviceId& id)
{
    uint8_t bytes[16] = {};
    UsbControlRequest request;
    makeVendorInRequest(request, kIdentity);
    request.bmRequestType = kVendorInDevice;
    request.wLength = sizeof bytes;
    request.data = bytes;
    if (!sendControlRequest(request))
        return false;
    id = DeviceId::fromBytes(bytes);
    return true;
}

bool XmegaUSBDevice::getChecksums(uint32_t& first, uint32_t& second)
{
    uint8_t bytes[8] = {};
    if (!vendorIn(kChecksums, bytes, sizeof bytes))
        return false;
    Platform::ByteReader r(bytes, sizeof bytes);
    r.u32(0, &first);
    r.u32(4, &second);
    return true;
}

bool XmegaUSBDevice::rebootToApplication()
{
    return vendorOut(kReboot, 0);
}

bool XmegaUSBDevice::rebootToBootloader()
{
    return vendorOut(kReboot, 1);
}

bool XmegaUSBDevice::readStatus(uint8_t status[6])
{
    return vendorIn(kStatus, status, 6);
}

bool XmegaUSBDevice::isBusy(bool& busy)
{
    uint8_t status[6] = {};
    if (!readStatus(status))
        return false;
    busy = status[1] != 0 || status[2] != 0;
    return true;
}

bool XmegaUSBDevice::waitIdleAndCommand()
{
    uint8_t status[6] = {};
    if (!readStatus(status))
        return false;
    if (status[0] != 0) {
        if (!vendorOut(kEndUpdate, 0))
            return false;
        // A unit that never leaves update mode must not hold the caller for ever.
        const auto left = m_clock->pollUntil(m_busyLimitMs, kIdlePollMs, [&] {
            if (!readStatus(status))
                return WaitClock::Poll::Failed;
            return status[0] == 0 ? WaitClock::Poll::Ready : WaitClock::Poll::Again;
        });
        if (left != WaitClock::PollResult::Ready) {
            if (left == WaitClock::PollResult::TimedOut)
                qCWarning(lcUsbXmega, "the unit did not leave update mode within %u ms",
                          m_busyLimitMs);
            return false;
        }
    }
    return vendorOut(kEnterUpdate, 0);
}

bool XmegaUSBDevice::endUpdate()
{
    return vendorOut(kEndUpdate, 0);
}

bool XmegaUSBDevice::selectTarget(uint16_t target)
{
    return vendorOut(kSelectTarget, target);
}

bool XmegaUSBDevice::getFlashGeometry(uint32_t& erasePageSize, uint32_t& writeBlockSize,
                                      uint64_t* info)
{
    uint8_t bytes[16] = {};
    if (!vendorIn(kFlashGeometry, bytes, sizeof bytes))
        return false;
    Platform::ByteReader r(bytes, sizeof bytes);
    uint64_t first = 0;
    uint32_t erase = 0, write = 0;
    r.u64(0, &first);
    r.u32(8, &erase);
    r.u32(12, &write);
    if (erase == 0 || write == 0) {
        qCWarning(lcUsbXmega, "flash geometry refused: erase page %u, write block %u", erase,
                  write);
        return false;
    }
    erasePageSize = erase;
    writeBlockSize = write;
    if (info)
        *info = first;
    return true;
}

bool XmegaUSBDevice::erasePages(uint32_t firstPage, uint32_t pageCount)
{
    uint8_t bytes[8] = {};
    Platform::ByteWriter w(bytes, sizeof bytes);
    w.u32(0, firstPage);
    w.u32(4, pageCount);
    return vendorOut(kErasePages, 0, bytes, sizeof bytes);
}

bool XmegaUSBDevice::getEraseStatus(uint16_t& busy, bool& flag, uint32_t& span, uint32_t& current)
{
    uint8_t bytes[15] = {};
    if (!vendorIn(kEraseStatus, bytes, sizeof bytes))
        return false;
    Platform::ByteReader r(bytes, sizeof bytes);
    uint32_t start = 0, now = 0, end = 0;
    uint16_t pending = 0;
    uint8_t f = 0;
    r.u32(0, &start);
    r.u32(4, &now);
    r.u32(8, &end);
    r.u16(12, &pending);
    r.u8(14, &f);
    busy = pending;
    flag = f != 0;
    span = end - start;
    current = now;
    return true;
}

bool XmegaUSBDevice::waitForErase(const std::function<void(uint32_t, uint32_t)>& progress)
{
    bool complete = false;
    const auto ended = m_clock->pollUntil(m_busyLimitMs, kBusyPollMs, [&] {
        uint16_t busy = 0;
        bool flag = false;
        uint32_t span = 0, current = 0;
        if (!getEraseStatus(busy, flag, span, current))
            return WaitClock::Poll::Failed;
        if (progress)
            progress(current, span);
        complete = current == span;
        return busy ? WaitClock::Poll::Again : WaitClock::Poll::Ready;
    });
    if (ended == WaitClock::PollResult::TimedOut)
        qCWarning(lcUsbXmega, "the erase did not end within %u ms", m_busyLimitMs);
    else if (ended == WaitClock::PollResult::Ready && !complete)
        qCWarning(lcUsbXmega, "the erase ended before its last page");
    return ended == WaitClock::PollResult::Ready && complete;
}

bool XmegaUSBDevice::waitWhileBusy()
{
    const auto ended = m_clock->pollUntil(m_busyLimitMs, kBusyPollMs, [&] {
        bool busy = true;
        if (!isBusy(busy))
            return WaitClock::Poll::Failed;
        return busy ? WaitClock::Poll::Again : WaitClock::Poll::Ready;
    });
    if (ended == WaitClock::PollResult::TimedOut)
        qCWarning(lcUsbXmega, "the unit stayed busy for more than %u ms", m_busyLimitMs);
    return ended == WaitClock::PollResult::Ready;
}

bool XmegaUSBDevice::readMemory(uint32_t address, uint32_t size, uint8_t* buffer)
{
    return transferMemory(address, size, buffer, kReadMemory);
}

bool XmegaUSBDevice::writeMemory(uint32_t address, uint32_t size, const uint8_t* buffer)
{
    // The OUT request only reads the buffer.
    return transferMemory(address, size, const_cast<uint8_t*>(buffer), kWriteMemory);
}

bool XmegaUSBDevice::transferMemory(uint32_t address, uint32_t size, uint8_t* buffer,
                                    uint8_t bRequest)
{
    if (!buffer)
        return false;
    const bool in = bRequest == kReadMemory;
    for (PageIterator it(address, size, kMemoryPageSize); it.hasMore(); it.next()) {
        if (int64_t(it.page()) != m_selectedPage) {
            if (!vendorOut(kSelectPage, uint16_t(it.page())))
                return false;
            m_selectedPage = int32_t(it.page());
        }
        uint32_t done = 0;
        while (done < it.chunk()) {
            uint32_t piece = it.chunk() - done;
            if (piece > kMaxControlLength)
                piece /= 2;
            UsbControlRequest request;
            if (in)
                makeVendorInRequest(request, bRequest);
            else
                makeVendorOutRequest(request, bRequest);
            request.wValue = uint16_t(it.offset() + done);
            request.wLength = uint16_t(piece);
            request.data = buffer;
            if (!sendControlRequest(request))
                return false;
            buffer += piece;
            done += piece;
        }
    }
    return true;
}

bool XmegaUSBDevice::bulkDownload(uint32_t firstBlock, uint32_t size, const uint8_t* data,
                                  ProgressCallback* progress)
{
    if (!data || !m_interface)
        return false;
    uint8_t announce[4] = {};
    Platform::ByteWriter(announce, sizeof announce).u32(0, firstBlock);
    if (!vendorOut(kBulkDownload, 0, announce, sizeof announce))
        return false;

    uint32_t erasePage = 0, writeBlock = 0;
    if (!getFlashGeometry(erasePage, writeBlock))
        return false;
    const uint32_t packet = m_outPacketSize;
    if (packet == 0)
        return false;
    const uint64_t unit = (uint64_t(writeBlock) + packet - 1) / packet * packet;
    if (unit % writeBlock != 0 || unit > kDownloadChunk) {
        qCWarning(lcUsbXmega, "no download chunk fits write block %u and packet %u", writeBlock,
                  packet);
        return false;
    }
    const uint32_t chunk = kDownloadChunk - uint32_t(kDownloadChunk % unit);
    const uint32_t count = uint32_t((uint64_t(size) + chunk - 1) / chunk);

    uint32_t index = 0;
    for (PageIterator it(0, size, chunk); it.hasMore(); it.next(), ++index) {
        if (progress)
            progress->progress(index, count);
        const uint8_t* piece = data + uint64_t(it.page()) * chunk;
        if (m_interface->writePipe(m_outPipe, piece, it.chunk(), kBulkTimeoutMs, kBulkTimeoutMs) !=
            kCVNUsbSuccess)
            return false;
        if (it.chunk() % writeBlock != 0 && it.chunk() % packet == 0 &&
            m_interface->writePipe(m_outPipe, piece, 0, kBulkTimeoutMs, kBulkTimeoutMs) !=
                kCVNUsbSuccess)
            return false;
    }
    if (progress)
        progress->progress(count, count);
    return m_interface->writePipe(m_outPipe, data, 0, kRequestTimeoutMs, kRequestTimeoutMs) ==
           kCVNUsbSuccess;
}

bool XmegaUSBDevice::downloadFirmware(uint32_t size, const uint8_t* data)
{
    if (!data || size == 0)
        return false;
    uint8_t bytes[4] = {};
    if (!vendorIn(kBootloaderBlockSize, bytes, sizeof bytes))
        return false;
    uint32_t blockSize = 0;
    Platform::ByteReader(bytes, sizeof bytes).u32(0, &blockSize);
    // No whole block fits a transfer: the block arithmetic would never advance.
    if (blockSize == 0 || blockSize > kBootloaderTransferSize) {
        qCWarning(lcUsbXmega, "boot loader block size %u refused", blockSize);
        return false;
    }
    if (!vendorOut(kBootloaderStart, 0))
        return false;

    const uint32_t blocksPerTransfer = kBootloaderTransferSize / blockSize;
    const uint32_t bytesPerTransfer = blockSize * blocksPerTransfer;
    uint32_t block = 0;
    for (uint32_t offset = 0; offset < size; offset += bytesPerTransfer) {
        // The block index travels in the 16-bit wValue; a wrapped one would misplace data.
        if (block > 0xFFFF) {
            qCWarning(lcUsbXmega, "image of %u bytes beyond the boot loader's block index", size);
            return false;
        }
        const uint32_t piece = std::min(size - offset, bytesPerTransfer);
        if (!vendorOut(kBootloaderBlock, uint16_t(block), data + offset, uint16_t(piece)))
            return false;
        block += blocksPerTransfer;
    }
    return vendorOut(kBootloaderBlock, 0);
}
