#pragma once

#include "plugins/webview/transport/abstractusbinterface.h"

#include <mutex>

namespace CVN {
namespace USB {
class IUSBDevice;
class IUSBInterface;
} // namespace USB

namespace AbstractUSB {
namespace CVNUSB {

// The transports' USB interface over an interface of the USB layer. Asynchronous transfers
// complete on the module's USB completion thread, which this object attaches its device to
// before the first one starts; their completions run there.
class CVNUSBInterface final : public AbstractUSBInterface
{
public:
    // Time-outs of the class requests, in ms.
    static constexpr uint32_t kControlTimeoutMs = 1000;
    // Maximum packet sizes from this value on come from the driver shifted left by 4.
    static constexpr uint16_t kShiftedPacketSize = 16384;

    // Takes over the caller's reference on the interface and one of its own on the device.
    // Throws std::runtime_error "Couldn't get interface number" (and releases the interface)
    // when the number cannot be read.
    CVNUSBInterface(CVN::USB::IUSBInterface* interface, CVN::USB::IUSBDevice* device);
    ~CVNUSBInterface() override;

    CVNUSBInterface(const CVNUSBInterface&) = delete;
    CVNUSBInterface& operator=(const CVNUSBInterface&) = delete;

    bool open() override;
    bool close() override;
    uint8_t interfaceClass() override;
    uint8_t interfaceSubclass() override;
    std::vector<USBPipe> pipes() override;
    USBResult resetPipe(uint8_t pipe) override;
    USBResult readAsync(uint8_t pipe, void* buffer, uint32_t length,
                        ReadCompletion completion) override;
    USBResult writeAsync(uint8_t pipe, const void* data, uint32_t length,
                         WriteCompletion completion) override;
    std::pair<USBResult, uint32_t> read(uint8_t pipe, void* buffer, uint32_t length) override;
    USBResult write(uint8_t pipe, const void* data, uint32_t length) override;
    USBResult writeWithin(uint8_t pipe, const void* data, uint32_t length,
                          std::chrono::milliseconds limit) override;
    USBResult controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                              uint16_t length, uint32_t* transferred) override;
    USBResult controlTransfer(bool in, uint8_t request, uint16_t value, void* buffer,
                              uint16_t length) override;

    uint8_t interfaceNumber() const { return m_number; }

private:
    struct Pending;
    static void completed(uint32_t status, uint32_t bytes, void* context);
    bool prepareAsync();
    USBResult startAsync(bool write, uint8_t pipe, const void* data, void* buffer, uint32_t length,
                         ReadCompletion read, WriteCompletion written);

    CVN::USB::IUSBInterface* m_interface;
    CVN::USB::IUSBDevice* m_device;
    uint8_t m_number = 0;
    std::mutex m_asyncMutex;
    bool m_asyncReady = false;
};

} // namespace CVNUSB
} // namespace AbstractUSB
} // namespace CVN
