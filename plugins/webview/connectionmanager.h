#pragma once

#include "productrecord.h"

#include <QSharedPointer>
#include <QString>

#include <memory>

class ConnectedDevice;
class DeviceFirmwareUpdater;
class NovaFamilyBase;
class NovaVisibleDevice;
class PotentialDevice;
class QWidget;

// The family's source of potential devices for one transport. Always owned by a shared
// pointer: its devices keep a weak reference to it.
class ConnectionManager : public std::enable_shared_from_this<ConnectionManager>
{
public:
    ConnectionManager(QString name, NovaFamilyBase* family, ProductTable products);
    virtual ~ConnectionManager();

    ConnectionManager(const ConnectionManager&) = delete;
    ConnectionManager& operator=(const ConnectionManager&) = delete;

    virtual void start();
    virtual std::shared_ptr<ConnectedDevice> createConnectedDevice(NovaVisibleDevice* visibleDevice,
                                                                   PotentialDevice* device) = 0;
    virtual QSharedPointer<DeviceFirmwareUpdater>
    createFirmwareUpdater(NovaVisibleDevice* visibleDevice, PotentialDevice* device) = 0;
    virtual QWidget* createWidget(NovaVisibleDevice* visibleDevice, PotentialDevice* device);

    const ProductRecord* findProduct(uint16_t productId) const;
    QString name() const { return m_name; }
    ProductTable products() const { return m_products; }

protected:
    NovaFamilyBase* family() const { return m_family; }
    const ProductTable& productTable() const { return m_products; }

private:
    QString m_name;
    NovaFamilyBase* m_family;
    ProductTable m_products;
};
