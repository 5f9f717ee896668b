#pragma once

#include <atomic>
#include <mutex>

struct AvahiServer;
struct AvahiThreadedPoll;

// The process-wide multicast DNS core: one avahi server driven by one threaded poll, whose
// thread is the core thread. The first user starts it, the last stops it. Avahi is not
// thread-safe: every call into it holds a CoreLock.
class BonjourCore
{
public:
    // Keeps the core up while it exists. The last user must not go on the core thread (from a
    // wrapper's slot): stopping the core joins that thread.
    class User
    {
    public:
        User();
        ~User();
        User(const User&) = delete;
        User& operator=(const User&) = delete;
    };

    // Serialises a call into avahi with the core thread. On the core thread itself (inside an
    // avahi callback, where avahi already holds its lock) it takes nothing.
    class Lock
    {
    public:
        Lock();
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        AvahiThreadedPoll* m_poll = nullptr;
    };

    // Marks the calling thread as the core thread for as long as it lives; every avahi callback
    // of ours opens one.
    class CallbackScope
    {
    public:
        CallbackScope();
        ~CallbackScope();
        CallbackScope(const CallbackScope&) = delete;
        CallbackScope& operator=(const CallbackScope&) = delete;
    };

    // Kinds of operation, for refuseStartsForTesting.
    enum Operation { Browse = 1, Resolve = 2, Lookup = 4, Query = 8 };

    static bool isRunning();
    // Valid while running; use under a Lock.
    static AvahiServer* server();
    static bool onCoreThread();
    // Maps an avahi error number to a DNS-SD error code.
    static int errorCode(int avahiError);

    // Whether a start of the given kind may go ahead: the core runs and tests refuse nothing.
    static bool mayStart(Operation operation);
    // Test seams: make the next core start fail, or make starts of the given kinds fail as if
    // the core were down.
    static void failNextStartForTesting(bool fail);
    static void refuseStartsForTesting(int operations);
    // How many times the core has been started, successfully or not.
    static int startCountForTesting();

private:
    static void acquire();
    static void release();
};
