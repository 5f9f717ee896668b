#include "discovery/dnssd/bonjourdiscovery.h"

#include "discovery/dnssd/bonjourbrowser.h"
#include "discovery/dnssd/bonjourquery.h"
#include "discovery/threading/periodictimer.h"
#include "discovery/threading/workerthread.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

class BonjourDiscoveryPrivate
{
public:
    BonjourDiscoveryPrivate(BonjourDiscovery& owner, int requeryIntervalMs);
    virtual ~BonjourDiscoveryPrivate();

    void onServiceAdded(const BonjourDevice& device);
    void onServiceRemoved(const BonjourDevice& device);
    void onTimerTick();
    void onTxtReply(const BonjourDevice& device, uint16_t length, const void* data);
    void onTxtError(const BonjourDevice& device, int errorCode);
    // Worker thread only.
    void startTxtQuery(const BonjourDevice& device);
    void stopTxtQueries(const BonjourDevice& device);

    BonjourDiscovery& owner;
    const int requeryIntervalMs;
    bool started = false;
    std::mutex servicesMutex;
    std::vector<BonjourInfo> services;
    WorkerThread worker;
    // Created, used and destroyed on the worker thread only, so without a lock.
    std::list<std::unique_ptr<BonjourQuery>> queries;
    PeriodicTimer timer;
    std::unique_ptr<BonjourBrowser> browser;
};

BonjourDiscoveryPrivate::BonjourDiscoveryPrivate(BonjourDiscovery& owner, int requeryIntervalMs)
    : owner(owner)
    , requeryIntervalMs(requeryIntervalMs)
    , browser(std::make_unique<BonjourBrowser>())
{
    browser->added.connect([this](const BonjourDevice& device) { onServiceAdded(device); });
    browser->removed.connect([this](const BonjourDevice& device) { onServiceRemoved(device); });
    timer.connect([this] { onTimerTick(); });
}

BonjourDiscoveryPrivate::~BonjourDiscoveryPrivate()
{
    worker.stop();
    {
        std::lock_guard<std::mutex> lock(servicesMutex);
        services.clear();
    }
    browser.reset();
    timer.stop();
    // The worker is gone: what it left is this thread's now.
    queries.clear();
}

void BonjourDiscoveryPrivate::onServiceAdded(const BonjourDevice& device)
{
    {
        std::lock_guard<std::mutex> lock(servicesMutex);
        for (const BonjourInfo& service : services) {
            if (service == device)
                return;
        }
        BonjourInfo info;
        static_cast<BonjourDevice&>(info) = device;
        services.push_back(std::move(info));
    }
    worker.post([this, device] { startTxtQuery(device); });
}

void BonjourDiscoveryPrivate::onServiceRemoved(const BonjourDevice& device)
{
    BonjourInfo removed;
    {
        std::lock_guard<std::mutex> lock(servicesMutex);
        auto it = services.begin();
        while (it != services.end() && *it != device)
            ++it;
        if (it == services.end())
            return;
        removed = *it;
        services.erase(it);
    }
    owner.deviceRemoved.emit(removed);
    worker.post([this, device] { stopTxtQueries(device); });
}

void BonjourDiscoveryPrivate::onTimerTick()
{
    std::lock_guard<std::mutex> lock(servicesMutex);
    for (const BonjourInfo& service : services) {
        const BonjourDevice device = service;
        worker.post([this, device] { startTxtQuery(device); });
    }
}

void BonjourDiscoveryPrivate::startTxtQuery(const BonjourDevice& device)
{
    for (const auto& query : queries) {
        if (query->device() == device)
            return;
    }
    auto query = std::make_unique<BonjourQuery>();
    // A query serves its first answer only. After a change the superseded record stays cached
    // for a second behind the new one; taking both would flip the map back and forth.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    query->error.connect([this, answered](const BonjourDevice& device, int errorCode) {
        if (!answered->exchange(true))
            onTxtError(device, errorCode);
    });
    query->txt.connect(
        [this, answered](const BonjourDevice& device, unsigned short length, const void* data) {
            if (!answered->exchange(true))
                onTxtReply(device, length, data);
        });
    // One that did not start would never answer and would block every later tick: drop it so
    // the next tick asks again.
    if (!query->query(device))
        return;
    queries.push_back(std::move(query));
}

void BonjourDiscoveryPrivate::stopTxtQueries(const BonjourDevice& device)
{
    for (auto it = queries.begin(); it != queries.end();) {
        if ((*it)->device() == device)
            it = queries.erase(it);
        else
            ++it;
    }
}

void BonjourDiscoveryPrivate::onTxtReply(const BonjourDevice& device, uint16_t length,
                                         const void* data)
{
    BonjourInfo current;
    bool arrived = false;
    bool updated = false;
    {
        std::lock_guard<std::mutex> lock(servicesMutex);
        for (BonjourInfo& service : services) {
            if (service != device)
                continue;
            const std::map<std::string, std::string> before = service.txt;
            service.parseTxt(static_cast<const unsigned char*>(data), length);
            current = service;
            if (!service.seen) {
                service.seen = true;
                arrived = true;
            } else {
                updated = service.txt != before;
            }
            break;
        }
    }
    if (arrived)
        owner.deviceArrived.emit(current);
    else if (updated)
        owner.deviceUpdated.emit(current);
    // Each query serves one answer; the next tick asks afresh.
    worker.post([this, device] { stopTxtQueries(device); });
}

void BonjourDiscoveryPrivate::onTxtError(const BonjourDevice& device, int)
{
    worker.post([this, device] { stopTxtQueries(device); });
}

BonjourDiscovery::BonjourDiscovery(int requeryIntervalMs)
    : d(new BonjourDiscoveryPrivate(*this, requeryIntervalMs))
{
}

BonjourDiscovery::~BonjourDiscovery()
{
    delete d;
}

void BonjourDiscovery::start(const std::string& serviceType)
{
    if (d->started)
        return;
    d->browser->browse(serviceType);
    d->timer.start(d->requeryIntervalMs);
    d->started = true;
}
