#pragma once

#include "plugins/webview/transport/usbref.h"
#include "potentialdevice.h"
#include "usb/driver/iusbdevice.h"

#include <QObject>

#include <memory>
#include <string>
#include <utility>

// A recorder on USB, in its application or its loader. Its facts come from the unit's
// key/value query, asked each time. Lives on the thread that made it: create it with
// create(), whose pointer deletes it there even when the last holder is a worker thread,
// because the children it may own (the tunnel proxy's server) belong to that thread.
class UsbPotentialDevice : public QObject, public PotentialDevice
{
    Q_OBJECT
public:
    static constexpr uint16_t kPriority = 10;
    // Read when the capability word has the bit; 255 when the boot mode is unknown.
    static constexpr uint32_t kBootModeCapability = 0x1;
    static constexpr uint32_t kPropertiesCapability = 0x2;
    static constexpr uint8_t kUnknownBootMode = 255;
    static constexpr int kSerialNumberAttempts = 2;

    // Takes a reference on the device for its whole life.
    UsbPotentialDevice(const std::shared_ptr<ConnectionManager>& manager,
                       CVN::USB::IUSBDevice* device);
    ~UsbPotentialDevice() override;

    template<class T, class... Args> static std::shared_ptr<T> create(Args&&... args)
    {
        return std::shared_ptr<T>(new T(std::forward<Args>(args)...), &deleteOnOwnThread);
    }

    CVN::USB::IUSBDevice* usbDevice() const { return m_device.get(); }
    uint8_t bootMode();

    uint16_t productId() override { return m_productId; }
    uint16_t hardwareRevision() override { return m_hardwareRevision; }
    QString uniqueId() override { return m_uniqueId; }
    QString name() override;
    QString firmwareBuild() override;
    QString releaseVersion() override;
    int connectionType() override { return kUsb; }
    // A unit on USB has no address to look up.
    void requestResolve() override {}
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return true; }
    uint16_t priority() override { return kPriority; }

protected:
    // The value of a key; false when the unit does not answer it (the caller's default stays).
    virtual bool readProperty(const std::string& key, QString* value);

private:
    static void deleteOnOwnThread(QObject* object);

    WebViewUsb::UsbRef<CVN::USB::IUSBDevice> m_device;
    QString m_uniqueId;
    uint16_t m_productId = 0;
    uint16_t m_hardwareRevision = 0;
};
