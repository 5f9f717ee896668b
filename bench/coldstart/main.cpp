// Cold start of the built program, with every plug-in beside it and no devices, to its main
// window shown, beside a minimal Qt Widgets program that shows a plain main window after the
// same web-engine warm-up (minimalwindow.cpp). Both run on an Xvfb of the bench's own inside a
// network namespace of its own; every launch is a new process with fresh home, settings and
// runtime folders. The clock runs from the fork to the X server's MapNotify of the process's
// top-level window (the one carrying its _NET_WM_PID); then the process gets SIGTERM and is
// waited for. Alternating launches, median of each; goal: the program at most 1.0 times the
// minimal window.
#include "privatenetwork.h"

#include <xcb/xcb.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int kDefaultRounds = 7;
constexpr double kGoalRatio = 1.0;
constexpr std::chrono::seconds kMapWait{60};
constexpr std::chrono::seconds kExitWait{20};
// What is left of a stopped process (the web engine's helpers) gets this long to go.
constexpr std::chrono::seconds kLeftoverWait{5};

using Clock = std::chrono::steady_clock;

const char* const kPlugins[] = {"Tamsett", "Brindle", "Quenby"};

double milliseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A forked child: its own process group, stdout and stderr to a log, the given environment.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
            const QString& logPath, int keepFd = -1)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> env;
    for (const std::string& entry : environment)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);
    const QByteArray log = QFile::encodeName(logPath);

    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int fd = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
    }
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0)
        ::dup2(devNull, STDIN_FILENO);
    if (keepFd >= 0)
        ::fcntl(keepFd, F_SETFD, 0);
    ::execve(args[0], args.data(), env.data());
    ::_exit(127);
}

// Waits for a child until the deadline; true once it is reaped.
bool reap(pid_t pid, Clock::time_point deadline, int* status = nullptr)
{
    for (;;) {
        int s = 0;
        const pid_t r = ::waitpid(pid, &s, WNOHANG);
        if (r == pid || (r < 0 && errno == ECHILD)) {
            if (status)
                *status = s;
            return true;
        }
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Reaps everything left in a process group (the bench is the subreaper of its launches), killing
// what outlives the wait.
void clearGroup(pid_t group)
{
    const Clock::time_point deadline = Clock::now() + kLeftoverWait;
    for (;;) {
        const pid_t r = ::waitpid(-group, nullptr, WNOHANG);
        if (r < 0)
            return;
        if (r == 0 && Clock::now() >= deadline) {
            ::kill(-group, SIGKILL);
            while (::waitpid(-group, nullptr, 0) > 0) {
            }
            return;
        }
        if (r == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An X server of our own on a free display, reached only through its local socket.
class Xvfb
{
public:
    explicit Xvfb(const QString& logPath)
        : m_logPath(logPath)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e)
            environment.emplace_back(*e);
        m_pid = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp",
                       "-screen", "0", "1280x1024x24"},
                      environment, logPath, fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (::poll(&p, 1, 10000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (!number.empty())
            m_display = QByteArray(":") + QByteArray::fromStdString(number);
    }

    ~Xvfb()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        if (!reap(m_pid, Clock::now() + kExitWait)) {
            ::kill(m_pid, SIGKILL);
            reap(m_pid, Clock::now() + kExitWait);
        }
    }

    QByteArray display() const { return m_display; }
    QByteArray log() const { return readAll(m_logPath); }

private:
    QString m_logPath;
    pid_t m_pid = -1;
    QByteArray m_display;
};

// Top-level windows as the X server maps them: with no window manager every top-level window
// is a child of the root, so the root's substructure events carry each map.
class MapWatcher
{
public:
    explicit MapWatcher(const QByteArray& display)
    {
        m_connection = xcb_connect(display.constData(), nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_generic_error_t* error = xcb_request_check(
            m_connection,
            xcb_change_window_attributes_checked(m_connection, m_root, XCB_CW_EVENT_MASK, &mask));
        m_pidAtom = atom("_NET_WM_PID");
        m_ok = !error && m_pidAtom != XCB_ATOM_NONE;
        std::free(error);
    }

    ~MapWatcher() { xcb_disconnect(m_connection); }

    bool isValid() const { return m_ok; }

    // Forgets events of earlier launches: everything the server sent up to now.
    void drain()
    {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    // When the first top-level, not override-redirect window of the process was seen mapped;
    // empty if the process ended or the time ran out first. Every map is listed with verbose.
    std::optional<Clock::time_point> waitForMap(pid_t pid, Clock::time_point deadline, bool verbose,
                                                bool* exited)
    {
        *exited = false;
        const int fd = xcb_get_file_descriptor(m_connection);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
                const Clock::time_point seen = Clock::now();
                std::optional<Clock::time_point> found;
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
                    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                    const long owner = windowPid(map->window);
                    if (verbose)
                        std::printf("    map of window 0x%x \"%s\" by pid %ld%s, %.1f ms after "
                                    "start\n",
                                    map->window, windowName(map->window).c_str(), owner,
                                    map->override_redirect ? " (override-redirect)" : "",
                                    milliseconds(seen - m_started));
                    if (owner == pid && !map->override_redirect)
                        found = seen;
                }
                std::free(event);
                if (found)
                    return found;
            }
            if (xcb_connection_has_error(m_connection))
                return std::nullopt;
            siginfo_t info{};
            if (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid) {
                *exited = true;
                return std::nullopt;
            }
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 20);
        }
        return std::nullopt;
    }

    void setStarted(Clock::time_point started) { m_started = started; }

private:
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, std::strlen(name), name), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    long windowPid(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        long pid = -1;
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
            pid = *static_cast<const uint32_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return pid;
    }

    std::string windowName(xcb_window_t window)
    {
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(m_connection,
                                   xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_NAME,
                                                    XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                   nullptr);
        std::string name;
        if (reply && reply->format == 8)
            name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                        xcb_get_property_value_length(reply));
        std::free(reply);
        return name;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    Clock::time_point m_started;
    bool m_ok = false;
};

struct Contender
{
    const char* name;
    std::string program;
    std::vector<double> times;
    std::vector<double> cpuTimes;
};

struct Launch
{
    double ms = -1; // negative when it failed
    double cpuMs = 0;
};

// How long the process's main thread has run on a CPU so far: its share of the start, little
// swayed by the machine's other load.
double mainThreadCpuMs(pid_t pid)
{
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/schedstat").arg(pid));
    return stat.split(' ').value(0).toLongLong() / 1e6;
}

// The environment a user's desktop would give, on our display, with folders nobody used before:
// no stored settings, no single-instance lock, no USB devices, no extra plug-ins.
std::vector<std::string> launchEnvironment(const QByteArray& display, const QString& root)
{
    static const char* const kDropped[] = {"DISPLAY",
                                           "WAYLAND_DISPLAY",
                                           "QT_QPA_PLATFORM",
                                           "HOME",
                                           "XDG_",
                                           "PELLWORTH_USB_BACKEND",
                                           "CVN_ADMIN_PLUGIN_PATH",
                                           "DBUS_SESSION_BUS_ADDRESS",
                                           "QTWEBENGINE_DISABLE_SANDBOX",
                                           "QTWEBENGINE_CHROMIUM_FLAGS"};
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string key = entry.substr(0, entry.find('='));
        const bool dropped = std::any_of(std::begin(kDropped), std::end(kDropped), [&](auto d) {
            const std::string prefix(d);
            return prefix.back() == '_' ? key.rfind(prefix, 0) == 0 : key == prefix;
        });
        if (!dropped)
            environment.push_back(entry);
    }
    const std::string base = QFile::encodeName(root).toStdString();
    environment.push_back("DISPLAY=" + display.toStdString());
    environment.push_back("QT_QPA_PLATFORM=xcb");
    environment.push_back("HOME=" + base + "/home");
    environment.push_back("XDG_CONFIG_HOME=" + base + "/home/.config");
    environment.push_back("XDG_CACHE_HOME=" + base + "/home/.cache");
    environment.push_back("XDG_DATA_HOME=" + base + "/home/.local/share");
    environment.push_back("XDG_RUNTIME_DIR=" + base + "/runtime");
    return environment;
}

// One cold start to the window shown.
Launch launch(const Contender& contender, MapWatcher& watcher, const QByteArray& display,
              bool verbose)
{
    QTemporaryDir root;
    if (!root.isValid() || !QDir().mkpath(root.path() + "/home") ||
        !QDir().mkpath(root.path() + "/runtime") ||
        !QFile::setPermissions(root.path() + "/runtime",
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        std::fprintf(stderr, "no temporary folder\n");
        return {};
    }
    const std::vector<std::string> environment = launchEnvironment(display, root.path());
    const QString log = root.path() + "/output.log";

    watcher.drain();
    const Clock::time_point started = Clock::now();
    watcher.setStarted(started);
    const pid_t pid = spawn({contender.program}, environment, log);
    if (pid < 0)
        return {};
    bool exited = false;
    const std::optional<Clock::time_point> mapped =
        watcher.waitForMap(pid, started + kMapWait, verbose, &exited);
    Launch result;
    result.cpuMs = mainThreadCpuMs(pid);

    ::kill(pid, SIGTERM);
    int status = 0;
    bool stopped = reap(pid, Clock::now() + kExitWait, &status);
    if (!stopped) {
        ::kill(-pid, SIGKILL);
        reap(pid, Clock::now() + kExitWait, &status);
    }
    clearGroup(pid);

    const QByteArray output = readAll(log);
    if (!mapped) {
        std::fprintf(stderr, "%s: %s\n%s\n", contender.name,
                     exited ? "ended before its window was shown" : "no window within the limit",
                     output.constData());
        return {};
    }
    if (!stopped || (!WIFEXITED(status) && !(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)))
        std::fprintf(stderr, "%s: did not stop cleanly on SIGTERM (status %d)\n", contender.name,
                     status);
    result.ms = milliseconds(*mapped - started);
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread or child: the program announces and browses DNS-SD, which must never
    // reach the machine's network.
    PrivateNetwork::enter();
    if (!PrivateNetwork::unavailable().empty()) {
        std::fprintf(stderr, "no private network: %s\n", PrivateNetwork::unavailable().c_str());
        return 1;
    }

    int rounds = kDefaultRounds;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-v") == 0)
            verbose = true;
        else if (std::atoi(argv[i]) > 0)
            rounds = std::atoi(argv[i]);
        else {
            std::fprintf(stderr, "usage: %s [-v] [launches of each, default %d]\n", argv[0],
                         kDefaultRounds);
            return 2;
        }
    }

    // Another build's program folder may be named, to compare two builds.
    const QString bin = qEnvironmentVariableIsEmpty("PELLWORTH_BIN_DIR")
                            ? QStringLiteral(PELLWORTH_BIN_DIR)
                            : qEnvironmentVariable("PELLWORTH_BIN_DIR");
    for (const char* plugin : kPlugins) {
        const QString path = QStringLiteral("%1/Tendwell/PlugIns/%2/lib%2.so").arg(bin, plugin);
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "plug-in missing: %s (build the plain build first)\n",
                         qPrintable(path));
            return 1;
        }
    }
    Contender program{"Pellworth", QFile::encodeName(bin + "/Pellworth").toStdString(), {}, {}};
    Contender minimal{"minimal window", MINIMAL_WINDOW, {}, {}};

    // Web-engine helpers left behind by a launch come to the bench, which reaps them.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    QTemporaryDir logs;
    Xvfb xvfb(logs.path() + "/xvfb.log");
    if (xvfb.display().isEmpty()) {
        std::fprintf(stderr, "Xvfb did not start (Debian package xvfb):\n%s\n",
                     xvfb.log().constData());
        return 1;
    }
    MapWatcher watcher(xvfb.display());
    if (!watcher.isValid()) {
        std::fprintf(stderr, "cannot watch display %s\n", xvfb.display().constData());
        return 1;
    }

    std::printf("Cold start to the main window shown, display %s, %d launches of each "
                "alternating, after one unmeasured launch of each\n",
                xvfb.display().constData(), rounds);
    for (int round = -1; round < rounds; ++round) {
        // The order swaps every round, so a drift of the machine weighs on both alike.
        Contender* order[2] = {&program, &minimal};
        if (round % 2)
            std::swap(order[0], order[1]);
        for (Contender* contender : order) {
            if (verbose)
                std::printf("  %s, launch %d:\n", contender->name, round + 1);
            const Launch result = launch(*contender, watcher, xvfb.display(), verbose);
            if (result.ms < 0)
                return 1;
            if (round >= 0) {
                contender->times.push_back(result.ms);
                contender->cpuTimes.push_back(result.cpuMs);
            }
            if (verbose)
                std::printf("    %.1f ms, main thread on CPU %.1f ms%s\n", result.ms, result.cpuMs,
                            round < 0 ? " (unmeasured)" : "");
        }
    }

    for (const Contender* c : {&program, &minimal}) {
        std::printf("  %-16s median %7.1f ms   (min %.1f, max %.1f)   main thread on CPU %.1f ms\n",
                    c->name, median(c->times), *std::min_element(c->times.begin(), c->times.end()),
                    *std::max_element(c->times.begin(), c->times.end()), median(c->cpuTimes));
    }
    const double ratio = median(program.times) / median(minimal.times);
    std::printf("  ratio Pellworth/minimal %.2fx   goal: at most %.1fx   %s\n", ratio, kGoalRatio,
                ratio <= kGoalRatio ? "met" : "NOT met");
    std::printf("  (main thread's CPU time to the map: %.2fx)\n",
                median(program.cpuTimes) / median(minimal.cpuTimes));
    return 0;
}
