#pragma once

#include "blockrecorder.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// The FIRMWARE UPDATE exchange of a legacy recorder, on top of its block-protocol service: a
// "FIRMWARE UPDATE" block with "Size" opens an upload port, named back in a "FIRMWARE UPDATE"
// block with "Port"; once the whole image has arrived the recorder reports "Status: Complete",
// drops the control connection to reboot and takes connections again.
//
// Knobs: no port named; the upload connection closed after this many bytes; "Failed" reported
// in place of "Complete"; the control connection dropped once this many upload bytes arrived;
// a recorder that never comes back after its reboot.
class FirmwareUpdatePeer : public QObject
{
    Q_OBJECT
public:
    struct Faults
    {
        bool noPort = false;
        qint64 closeUploadAfter = -1;
        bool reportFailed = false;
        qint64 dropControlAfter = -1;
        bool neverComesBack = false;
    };

    explicit FirmwareUpdatePeer(BlockRecorder* recorder);

    void setFaults(const Faults& faults) { m_faults = faults; }

    const QByteArray& received() const { return m_received; }
    qint64 announcedSize() const { return m_size; }
    int reboots() const { return m_reboots; }
    bool uploadClosedByHost() const { return m_uploadClosedByHost; }

private:
    void onBlock(const BlockRecorder::ReceivedBlock& block);
    void onUploadConnection();
    void onUploadData();

    BlockRecorder* m_recorder;
    QTcpServer m_uploadServer;
    QPointer<QTcpSocket> m_upload;
    Faults m_faults;
    QByteArray m_received;
    qint64 m_size = -1;
    int m_reboots = 0;
    bool m_uploadClosedByHost = false;
    bool m_controlDropped = false;
};
