#include "bpfuconnecteddevice.h"

#include "plugins/webview/transport/blockprotocolclient.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

BpfuConnectedDevice::BpfuConnectedDevice(std::shared_ptr<BonjourPotentialDevice> device)
    : m_device(std::move(device))
    , m_client(std::make_shared<BlockProtocolClient>())
{
    if (m_device)
        connect(m_device.get(), &BonjourPotentialDevice::resolved, this,
                &BpfuConnectedDevice::onResolved);
    connect(m_client.get(), &BlockProtocolClient::started, this,
            [this] { setConnectionState(Connected); });
    connect(m_client.get(), &BlockProtocolClient::stopped, this, [this] {
        setConnectionState(Interrupted);
        // Let go once the client's signal has returned: this may be the last reference.
        if (auto self = std::move(m_self))
            QTimer::singleShot(0, QCoreApplication::instance(), [self] {});
    });
}

BpfuConnectedDevice::~BpfuConnectedDevice()
{
    // The client's own clean-up neither sends what is queued nor says it stopped: end the
    // conversation here, without telling listeners that are going away.
    disconnect(m_client.get(), nullptr, this, nullptr);
    m_client->reset();
}

bool BpfuConnectedDevice::sendFirmwareUpdate(uint32_t size)
{
    BlockProtocol::Block block = Protocols::FirmwareUpdate::makeBlock();
    const BlockProtocol::Tag field =
        Protocols::FirmwareUpdate::makeField(Protocols::FirmwareUpdate::Tags::Size, size);
    block.addField(field.key, field.value);
    return m_client->send(std::move(block));
}

void BpfuConnectedDevice::stop()
{
    if (m_device)
        disconnect(m_device.get(), nullptr, this, nullptr);
    if (m_socket)
        m_socket->abort();
    m_client->reset();
}

void BpfuConnectedDevice::onResolved(const AddressAndPortPairs& addresses)
{
    if (addresses.empty()) {
        qWarning() << "BpfuConnectedDevice: failed to resolve bonjour device";
        return;
    }
    m_address = QHostAddress(QString::fromStdString(addresses.front().first));
    m_socket = std::make_unique<QTcpSocket>();
    connect(m_socket.get(), &QTcpSocket::connected, this, &BpfuConnectedDevice::onConnected);
    m_socket->connectToHost(m_address, addresses.front().second, QIODevice::ReadWrite);
}

void BpfuConnectedDevice::onConnected()
{
    m_self = shared_from_this();
    disconnect(m_socket.get(), &QTcpSocket::connected, this, &BpfuConnectedDevice::onConnected);
    std::vector<BlockProtocol::BlockDescription> descriptions;
    descriptions.push_back(Protocols::FirmwareUpdate::blockDescription(
        [this](uint16_t port) {
            m_port = port;
            emit updateReady(m_address, port);
        },
        [this](Status status) {
            if (status == m_status)
                return;
            m_status = status;
            emit updateStatusChanged(status);
        }));
    m_client->start(std::move(m_socket), std::move(descriptions));
    setConnectionState(Connected);
}

void BpfuConnectedDevice::setConnectionState(ConnectionState state)
{
    if (state == m_connectionState)
        return;
    m_connectionState = state;
    emit connectionStateChanged(state);
}
