#pragma once

#include "plugins/webview/bonjourconnectionmanager.h"
#include "plugins/webview/bonjourpotentialdevice.h"
#include "sim/novarecorder/novabonjourrecords.h"

#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <utility>

// Resolves every record to a simulated recorder on loopback, as the host would, and makes plain
// potential devices.
class LoopbackBonjourManager : public BonjourConnectionManager
{
public:
    using Endpoint = std::function<std::pair<std::string, uint16_t>()>;

    LoopbackBonjourManager(NovaFamilyBase* family, ProductTable table, Endpoint endpoint)
        : BonjourConnectionManager(
              family, std::move(table), nullptr, nullptr,
              [](std::shared_ptr<BonjourConnectionManager> manager, const BonjourInfo& info) {
                  return std::make_shared<BonjourPotentialDevice>(manager, info);
              },
              nullptr)
        , m_endpoint(std::move(endpoint))
    {
    }

    // A recorder gone from the network: resolves get no answer at all.
    void setGone(bool gone) { m_gone = gone; }

    void requestResolve(const BonjourInfo& info) override
    {
        if (m_gone)
            return;
        QTimer::singleShot(0, this, [this, info] {
            const auto endpoint = m_endpoint();
            deviceResolved(info, true, "alder.local.", endpoint.first, endpoint.second);
        });
    }

    // Announces the Alder recorder "NV1234ABCD" and answers its potential device once this
    // manager has taken it; null when it did not.
    std::shared_ptr<BonjourPotentialDevice> announceRecorder()
    {
        if (!deviceAdded(Sim::NovaBonjour::http("NV1234ABCD")))
            return nullptr;
        QTest::qWait(10);
        return findKnownByUniqueId("nv1234abcd");
    }

    // The Alder record with both waits set to seconds.
    static ProductTable table(int64_t seconds)
    {
        ProductTable products;
        ProductRecord record = supportedProducts().at(0xBE1D);
        record.arrivalTimeoutSeconds = seconds;
        record.installSeconds = seconds;
        products[0xBE1D] = record;
        return products;
    }

private:
    Endpoint m_endpoint;
    bool m_gone = false;
};
