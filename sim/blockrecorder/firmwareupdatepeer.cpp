#include "firmwareupdatepeer.h"

#include <QTimer>

FirmwareUpdatePeer::FirmwareUpdatePeer(BlockRecorder* recorder)
    : QObject(recorder)
    , m_recorder(recorder)
{
    connect(recorder, &BlockRecorder::blockReceived, this, &FirmwareUpdatePeer::onBlock);
    connect(&m_uploadServer, &QTcpServer::newConnection, this,
            &FirmwareUpdatePeer::onUploadConnection);
}

void FirmwareUpdatePeer::onBlock(const BlockRecorder::ReceivedBlock& block)
{
    if (block.name != "FIRMWARE UPDATE")
        return;
    for (const auto& field : block.fields) {
        if (field.first == "Size")
            m_size = field.second.toLongLong();
    }
    m_received.clear();
    m_uploadClosedByHost = false;
    m_controlDropped = false;
    if (!m_uploadServer.isListening() && !m_uploadServer.listen(m_recorder->address()))
        return;
    if (m_faults.noPort)
        return;
    // After the block's own answer.
    QTimer::singleShot(0, this, [this] {
        m_recorder->sendRaw("FIRMWARE UPDATE:\r\nPort: " +
                            QByteArray::number(m_uploadServer.serverPort()) + "\r\n\r\n");
    });
}

void FirmwareUpdatePeer::onUploadConnection()
{
    while (QTcpSocket* socket = m_uploadServer.nextPendingConnection()) {
        m_upload = socket;
        connect(socket, &QTcpSocket::readyRead, this, &FirmwareUpdatePeer::onUploadData);
        connect(socket, &QTcpSocket::disconnected, this, [this] {
            m_uploadClosedByHost = true;
            onUploadData();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FirmwareUpdatePeer::onUploadData()
{
    if (!m_upload)
        return;
    m_received += m_upload->readAll();
    if (m_faults.closeUploadAfter >= 0 && m_received.size() >= m_faults.closeUploadAfter) {
        m_upload->abort();
        return;
    }
    if (m_faults.dropControlAfter >= 0 && m_received.size() >= m_faults.dropControlAfter &&
        !m_controlDropped) {
        m_controlDropped = true;
        m_recorder->dropConnection();
        return;
    }
    if (m_size < 0 || m_received.size() < m_size || !m_uploadClosedByHost)
        return;
    m_size = -1;
    m_recorder->sendRaw(QByteArray("FIRMWARE UPDATE:\r\nStatus: ") +
                        (m_faults.reportFailed ? "Failed" : "Complete") + "\r\n\r\n");
    if (m_faults.reportFailed)
        return;
    // The reboot: the control connection goes, and the service comes back unless told not to.
    QTimer::singleShot(50, this, [this] {
        ++m_reboots;
        if (m_faults.neverComesBack)
            m_recorder->stopListening();
        m_recorder->dropConnection();
    });
}
