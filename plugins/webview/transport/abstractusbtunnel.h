#pragma once

#include <QObject>

#include <cstdint>

// One TCP connection made on a USB device and carried by the device's tunnel, as the socket
// over it sees it. Opening returns at once; the outcome comes as signals, which may be
// emitted on other threads: connected once the device opened the connection, disconnected
// once it ended (also when it never opened, and once only), readyRead when bytes were queued
// for read(), bytesWritten when written bytes were passed on toward the device.
class AbstractUSBTunnel : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Asks the device for a connection to port. Throws std::runtime_error when the device
    // cannot carry one at all; a refusal by the device comes as disconnected.
    virtual void connect(uint16_t port) = 0;
    // The connection's id on the tunnel; 0 when there is none.
    virtual uint16_t connectionId() const = 0;
    // Ends the connection once the bytes written so far went out; disconnected follows.
    virtual void closeConnection() = 0;
    // Queues the bytes; never waits for the device.
    virtual void write(const char* data, uint64_t length) = 0;
    // Up to max of the bytes received; 0 when none are queued.
    virtual uint64_t read(char* dest, uint64_t max) = 0;
    virtual uint64_t bytesAvailable() const = 0;
    // Bytes written and still queued, not yet passed on toward the device.
    virtual uint64_t bytesToWrite() const = 0;

signals:
    void connected();
    void disconnected();
    void readyRead();
    void bytesWritten(qint64 bytes);
};
