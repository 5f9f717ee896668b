#pragma once

#include <QObject>

// Drives one device's firmware update on a worker thread; the card UI listens to its signals.
class DeviceFirmwareUpdater : public QObject
{
    Q_OBJECT
public:
    // firmwareUpdated status values.
    enum Status { Succeeded = 0, Failed = 1, RemoteUpdatesDisabled = 2 };

    using QObject::QObject;
    ~DeviceFirmwareUpdater() override;

    virtual bool checkDevice() = 0;
    virtual void start() = 0;

    // A fraction of the work done as percent; any negative fraction means "can't tell" (-1).
    static int percentFromFraction(double fraction);

Q_SIGNALS:
    void isFirmwareCurrent(bool isCurrent);
    void firmwareUpdated(int status);
    void firmwareUpdateProgress(int percent);
};
