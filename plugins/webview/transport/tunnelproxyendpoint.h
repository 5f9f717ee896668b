#pragma once

#include <QObject>

#include <cstdint>

// What a USB recorder needs of its tunnel proxy store: the local port whose connections reach
// the recorder's web server through the tunnel. The store is a child of the potential device.
class TunnelProxyEndpoint : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual uint16_t listeningPort() const = 0;
};
