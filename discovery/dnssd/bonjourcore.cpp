#include "discovery/dnssd/bonjourcore.h"

#include "discovery/dnssd/discoverylog.h"
#include "discovery/dnssd/dnssd.h"

#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>
#include <avahi-core/core.h>
#include <avahi-core/log.h>

#include <QDebug>

namespace {

// Per interface; allocated as records arrive, never beyond this.
constexpr unsigned kCacheEntries = 512;

std::mutex coreMutex;
int userCount = 0;
std::atomic<bool> running{false};
// Written under coreMutex while no user can be starting an operation; read by users, whose
// existence keeps them valid.
std::atomic<AvahiThreadedPoll*> corePoll{nullptr};
std::atomic<AvahiServer*> coreServer{nullptr};

std::atomic<bool> failNextStart{false};
std::atomic<int> refusedStarts{0};
std::atomic<int> startCount{0};

thread_local int callbackDepth = 0;

void onServerState(AvahiServer*, AvahiServerState, void*)
{
    // Nothing is published, so neither collisions nor registering states concern us.
}

// Avahi would print every interface it joins to the standard error stream; only its trouble
// belongs in our log.
void logFromAvahi(AvahiLogLevel level, const char* text)
{
    if (level <= AVAHI_LOG_WARN)
        qCDebug(lcDiscovery).noquote() << "BonjourCore: avahi:" << text;
}

const char* startCore()
{
    if (failNextStart.exchange(false))
        return "refused for testing";
    avahi_set_log_function(logFromAvahi);
    AvahiThreadedPoll* poll = avahi_threaded_poll_new();
    if (!poll)
        return "no poll loop";
    AvahiServerConfig config;
    avahi_server_config_init(&config);
    config.use_ipv4 = 1;
    config.use_ipv6 = 0;
    config.publish_hinfo = 0;
    config.publish_addresses = 0;
    config.publish_workstation = 0;
    config.publish_domain = 0;
    config.disable_publishing = 1;
    config.enable_wide_area = 0;
    config.n_cache_entries_max = kCacheEntries;
    int error = 0;
    AvahiServer* server =
        avahi_server_new(avahi_threaded_poll_get(poll), &config, onServerState, nullptr, &error);
    avahi_server_config_free(&config);
    if (!server) {
        avahi_threaded_poll_free(poll);
        return avahi_strerror(error);
    }
    if (avahi_threaded_poll_start(poll) < 0) {
        avahi_server_free(server);
        avahi_threaded_poll_free(poll);
        return "the core thread did not start";
    }
    corePoll.store(poll);
    coreServer.store(server);
    return nullptr;
}

void stopCore()
{
    AvahiThreadedPoll* poll = corePoll.exchange(nullptr);
    AvahiServer* server = coreServer.exchange(nullptr);
    if (!poll)
        return;
    avahi_threaded_poll_stop(poll);
    // Every operation was freed by its own user before the last one went.
    avahi_server_free(server);
    avahi_threaded_poll_free(poll);
}

} // namespace

BonjourCore::User::User()
{
    BonjourCore::acquire();
}

BonjourCore::User::~User()
{
    BonjourCore::release();
}

BonjourCore::Lock::Lock()
{
    if (callbackDepth > 0)
        return;
    m_poll = corePoll.load();
    if (m_poll)
        avahi_threaded_poll_lock(m_poll);
}

BonjourCore::Lock::~Lock()
{
    if (m_poll)
        avahi_threaded_poll_unlock(m_poll);
}

BonjourCore::CallbackScope::CallbackScope()
{
    ++callbackDepth;
}

BonjourCore::CallbackScope::~CallbackScope()
{
    --callbackDepth;
}

void BonjourCore::acquire()
{
    std::lock_guard<std::mutex> lock(coreMutex);
    if (userCount == 0) {
        startCount.fetch_add(1);
        if (const char* failure = startCore())
            qCDebug(lcDiscovery).noquote()
                << "BonjourCore: the DNS-SD core did not start:" << failure;
        else
            running.store(true);
    }
    ++userCount;
}

void BonjourCore::release()
{
    std::lock_guard<std::mutex> lock(coreMutex);
    if (userCount == 0)
        return;
    if (--userCount > 0)
        return;
    running.store(false);
    stopCore();
}

bool BonjourCore::isRunning()
{
    return running.load();
}

AvahiServer* BonjourCore::server()
{
    return coreServer.load();
}

bool BonjourCore::onCoreThread()
{
    return callbackDepth > 0;
}

int BonjourCore::errorCode(int avahiError)
{
    if (avahiError == AVAHI_OK)
        return kDNSServiceErr_NoError;
    return avahiError == AVAHI_ERR_TIMEOUT ? kDNSServiceErr_Timeout : kDNSServiceErr_Unknown;
}

bool BonjourCore::mayStart(Operation operation)
{
    return running.load() && (refusedStarts.load() & operation) == 0;
}

void BonjourCore::failNextStartForTesting(bool fail)
{
    failNextStart.store(fail);
}

void BonjourCore::refuseStartsForTesting(int operations)
{
    refusedStarts.store(operations);
}

int BonjourCore::startCountForTesting()
{
    return startCount.load();
}
