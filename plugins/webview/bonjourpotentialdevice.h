#pragma once

#include "discovery/records/bonjourinfo.h"
#include "potentialdevice.h"

#include <QObject>

#include <map>
#include <string>
#include <utility>
#include <vector>

class BonjourConnectionManager;

using AddressAndPortPairs = std::vector<std::pair<std::string, uint16_t>>;
Q_DECLARE_METATYPE(AddressAndPortPairs)

// A recorder's DNS-SD service, seen on one or more network interfaces of the computer.
class BonjourPotentialDevice : public QObject, public PotentialDevice
{
    Q_OBJECT
public:
    static constexpr uint16_t kPriority = 20;

    // Throws std::invalid_argument or std::out_of_range when a number of the record's TXT
    // values is not one; a refresh later keeps the value it had instead.
    BonjourPotentialDevice(const std::shared_ptr<BonjourConnectionManager>& manager,
                           const BonjourInfo& info);
    ~BonjourPotentialDevice() override;

    // How many interface entries went (0 or 1).
    virtual int removeInterface(const BonjourInfo& info);
    // Refreshes the fields from the record (keys it lacks keep their values) and the entry of
    // its interface.
    virtual void update(const BonjourInfo& info);
    virtual void onResolved(const BonjourInfo& info, bool ok, const std::string& hostName,
                            const std::string& address, uint16_t port);

    int interfaceCount() const { return int(m_interfaces.size()); }
    QString advertisedName() const { return m_advertisedName; }

    uint16_t productId() override { return m_productId; }
    uint16_t hardwareRevision() override { return m_hardwareRevision; }
    QString uniqueId() override { return m_uniqueId; }
    QString name() override { return m_name; }
    QString firmwareBuild() override { return m_firmwareBuild; }
    QString releaseVersion() override { return m_releaseVersion; }
    int connectionType() override { return kEthernet; }
    void requestResolve() override;
    std::string host() override { return m_host; }
    uint16_t port() override { return m_port; }
    bool allowsFirmwareUpdate() override { return true; }
    bool isLegacy() override { return false; }
    uint16_t priority() override { return kPriority; }

Q_SIGNALS:
    void resolved(AddressAndPortPairs addresses);
    void failedToResolve();

private:
    struct Interface
    {
        BonjourInfo info;
        bool resolved = false;
    };

    void apply(const BonjourInfo& info, bool strict);

    std::weak_ptr<BonjourConnectionManager> m_resolver;
    QString m_name;
    QString m_firmwareBuild;
    QString m_releaseVersion;
    QString m_uniqueId;
    QString m_advertisedName;
    uint16_t m_productId = 0;
    uint16_t m_hardwareRevision = 0;
    std::string m_host;
    uint16_t m_port = 0;
    std::map<uint32_t, Interface> m_interfaces;
};
