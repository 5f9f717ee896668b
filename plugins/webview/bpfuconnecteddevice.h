#pragma once

#include "bonjourpotentialdevice.h"
#include "connectionstate.h"
#include "plugins/webview/transport/firmwareupdateblock.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>

#include <cstdint>
#include <memory>

class BlockProtocolClient;

// The control connection of a block-protocol firmware update: resolves the recorder, holds a
// block-protocol conversation with it and reports the upload port and the update's status.
// Keeps itself alive while its conversation runs. GUI thread only.
class BpfuConnectedDevice : public QObject, public std::enable_shared_from_this<BpfuConnectedDevice>
{
    Q_OBJECT
public:
    using Status = Protocols::FirmwareUpdate::Status;

    explicit BpfuConnectedDevice(std::shared_ptr<BonjourPotentialDevice> device);
    ~BpfuConnectedDevice() override;

    // Announces an image of size bytes; false when no conversation runs.
    bool sendFirmwareUpdate(uint32_t size);
    // Ends the conversation; the client reports it stopped.
    void stop();

    ConnectionState connectionState() const { return m_connectionState; }
    BlockProtocolClient* client() const { return m_client.get(); }

Q_SIGNALS:
    void updateReady(QHostAddress address, uint16_t port);
    void updateStatusChanged(Protocols::FirmwareUpdate::Status status);
    void connectionStateChanged(ConnectionState state);

private:
    void onResolved(const AddressAndPortPairs& addresses);
    void onConnected();
    void setConnectionState(ConnectionState state);

    std::shared_ptr<BonjourPotentialDevice> m_device;
    std::shared_ptr<BlockProtocolClient> m_client;
    ConnectionState m_connectionState = Connecting;
    Status m_status = Status::UpdateInProgress;
    uint16_t m_port = 0;
    QHostAddress m_address;
    std::unique_ptr<QTcpSocket> m_socket;
    std::shared_ptr<BpfuConnectedDevice> m_self;
};
