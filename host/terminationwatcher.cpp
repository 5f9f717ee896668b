#include "host/terminationwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};
// The signals this watcher took over; one ignored when the program started (under nohup, or
// as a background job) stays ignored, so closing the terminal leaves the program running.
bool g_watched[NSIG] = {};

void onSignal(int)
{
    const char c = 1;
    // Only async-signal-safe work here; the GUI thread does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_fds[0], &c, 1);
}
} // namespace

void TerminationWatcher::catchEarly()
{
    if (g_fds[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0)
        return;
    ::fcntl(g_fds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(g_fds[1], F_SETFL, O_NONBLOCK);

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction inherited = {};
        if (::sigaction(sig, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        g_watched[sig] = ::sigaction(sig, &sa, nullptr) == 0;
    }
}

TerminationWatcher::TerminationWatcher(QObject* parent)
    : QObject(parent)
{
    catchEarly();
    if (g_fds[1] < 0)
        return;
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::onReadable);
}

TerminationWatcher::~TerminationWatcher()
{
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (g_watched[sig])
            ::signal(sig, SIG_DFL);
        g_watched[sig] = false;
    }
    delete m_notifier;
    for (int& fd : g_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationWatcher::onReadable()
{
    char buf[16];
    while (::read(g_fds[1], buf, sizeof buf) > 0) {
    }
    Q_EMIT terminationRequested();
}
