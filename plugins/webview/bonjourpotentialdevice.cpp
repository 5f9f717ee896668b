#include "bonjourpotentialdevice.h"

#include "bonjourconnectionmanager.h"
#include "txtnumber.h"

#include <QDebug>

#include <stdexcept>

namespace {

const std::string* txtValue(const BonjourInfo& info, const char* key)
{
    const auto it = info.txt.find(key);
    return it == info.txt.end() ? nullptr : &it->second;
}

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// Stores a number of the record. A malformed one rejects a new record, but on a refresh only
// loses itself: the device keeps what it knew.
void readNumber(const std::string& value, uint16_t (*parse)(const std::string&), uint16_t* field,
                bool strict)
{
    try {
        *field = parse(value);
    } catch (const std::logic_error& error) {
        if (strict)
            throw;
        qDebug().nospace() << "Ignoring malformed TXT number \"" << value.c_str()
                           << "\": " << error.what();
    }
}

} // namespace

BonjourPotentialDevice::BonjourPotentialDevice(
    const std::shared_ptr<BonjourConnectionManager>& manager, const BonjourInfo& info)
    : PotentialDevice(manager)
    , m_resolver(manager)
{
    m_name = text(info.serviceName);
    apply(info, true);
}

BonjourPotentialDevice::~BonjourPotentialDevice() = default;

int BonjourPotentialDevice::removeInterface(const BonjourInfo& info)
{
    return int(m_interfaces.erase(info.interfaceIndex));
}

void BonjourPotentialDevice::update(const BonjourInfo& info)
{
    apply(info, false);
}

void BonjourPotentialDevice::apply(const BonjourInfo& info, bool strict)
{
    if (const std::string* value = txtValue(info, "product id"))
        readNumber(*value, txtHexadecimal16, &m_productId, strict);
    if (const std::string* value = txtValue(info, "hw version"))
        readNumber(*value, txtHexadecimal16, &m_hardwareRevision, strict);
    else if (const std::string* value = txtValue(info, "device version"))
        readNumber(*value, txtDecimal16, &m_hardwareRevision, strict);
    if (const std::string* value = txtValue(info, "unique id"))
        m_uniqueId = text(*value).toLower();
    if (const std::string* value = txtValue(info, "device name"))
        m_name = text(*value);
    if (const std::string* value = txtValue(info, "internal version"))
        m_firmwareBuild = text(*value).toLower();
    else if (const std::string* value = txtValue(info, "sw version"))
        m_firmwareBuild = text(*value).toLower();
    if (const std::string* value = txtValue(info, "release version"))
        m_releaseVersion = text(*value);
    if (const std::string* value = txtValue(info, "name"))
        m_advertisedName = text(*value);

    // Browse records carry no address: they must not wipe a resolved one.
    if (!info.hostName.empty()) {
        m_host = info.hostName;
        m_port = info.port;
    }
    Interface& entry = m_interfaces[info.interfaceIndex];
    entry.info = info;
}

void BonjourPotentialDevice::requestResolve()
{
    const auto resolver = m_resolver.lock();
    if (!resolver)
        return;
    // Copies: a resolve request may come back into this device.
    std::vector<BonjourInfo> records;
    for (const auto& entry : m_interfaces)
        records.push_back(entry.second.info);
    for (const BonjourInfo& record : records)
        resolver->requestResolve(record);
}

void BonjourPotentialDevice::onResolved(const BonjourInfo& info, bool ok,
                                        const std::string& /*hostName*/, const std::string& address,
                                        uint16_t port)
{
    if (!ok) {
        if (m_interfaces.count(info.interfaceIndex))
            emit failedToResolve();
        return;
    }
    // A browsed record comes back as it was asked, so its TXT may be older than an update that
    // arrived while the resolve ran: only the answer to a known host's query is news. A browsed
    // record also stays without a host name, so the next resolve goes through DNS-SD again.
    if (!info.hostName.empty() || !m_interfaces.count(info.interfaceIndex))
        update(info);
    AddressAndPortPairs addresses;
    for (auto& entry : m_interfaces) {
        entry.second.resolved = true;
        addresses.emplace_back(address, port);
    }
    emit resolved(addresses);
}
