// Times a network recorder's announcement (python3-zeroconf, tests/discovery/announcer.py) to
// its card in the program's gallery, and the same announcement to avahi-browse -r printing the
// resolved record, in a network namespace of its own where loopback is the only interface.
// avahi-browse talks to an avahi-daemon of ours on a private D-Bus system bus. Each round
// starts a fresh browser (the program's window or avahi-browse), lets it settle, then announces
// a name not seen before. Median of the rounds; goal: the program at most 1.5 times avahi's.
#include "announcer.h"
#include "pluginwindow.h"
#include "privatenetwork.h"

#include "framework/contract/devicelist.h"
#include "sim/novawebserver/novawebserver.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRounds = 15;
constexpr int kSettleMs = 1500;
constexpr int kWaitMs = 30000;
constexpr double kGoalRatio = 1.5;

const char kDbusConfig[] = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

// Loopback only (avahi takes it when allowed by name); browsing only, nothing of the host
// published.
const char kAvahiConfig[] = R"([server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
disable-publishing=yes
publish-addresses=no
publish-hinfo=no
publish-workstation=no
publish-domain=no
)";

QVariantMap novaTxt(const QString& name)
{
    return {{"product id", "be1d"},
            {"unique id", name},
            {"hw version", "100"},
            {"device name", name},
            {"internal version", "8A4C1F02"},
            {"release version", "8.4"}};
}

// Announces without blocking the event loop, so the clock runs while the window works.
void announce(Announcer& announcer, const QString& name)
{
    announcer.registerServiceLater(name, novaTxt(name), 80, name, QStringLiteral("_http._tcp"),
                                   QStringLiteral("127.0.0.1"));
}

bool withdraw(Announcer& announcer, const QString& name)
{
    const bool registered = announcer.answered();
    return announcer.unregisterService(name, QStringLiteral("_http._tcp")) && registered;
}

// Runs the event loop until done() holds or the time is up; the milliseconds it took, or -1.
double waitFor(const std::function<bool()>& done, const QElapsedTimer& clock)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > kWaitMs)
            loop.quit();
    });
    poll.start();
    loop.exec();
    return done() ? clock.nsecsElapsed() / 1e6 : -1;
}

void settle()
{
    QEventLoop loop;
    QTimer::singleShot(kSettleMs, &loop, &QEventLoop::quit);
    loop.exec();
}

double programRound(Announcer& announcer, const QString& name)
{
    auto window = PluginWindow::open(PluginWindow::pluginFolder(QStringLiteral("Quenby")),
                                     MainWindow::Options());
    window->show();
    QElapsedTimer clock;
    clock.start();
    if (waitFor([&] { return window->isStarted(); }, clock) < 0)
        return -1;
    settle();
    clock.restart();
    announce(announcer, name);
    const double ms = waitFor([&] { return window->deviceList()->count() == 1; }, clock);
    return withdraw(announcer, name) ? ms : -1;
}

double avahiRound(Announcer& announcer, const QString& name, const QProcessEnvironment& environment)
{
    QProcess browse;
    browse.setProcessEnvironment(environment);
    browse.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    bool resolved = false;
    QObject::connect(&browse, &QProcess::readyReadStandardOutput, [&] {
        while (browse.canReadLine()) {
            const QList<QByteArray> fields = browse.readLine().split(';');
            // "=;lo;IPv4;<name>;<type>;local;<host>;<address>;<port>;<txt>"
            if (fields.size() > 7 && fields[0] == "=" && fields[3] == name.toUtf8())
                resolved = true;
        }
    });
    browse.start(QStringLiteral("avahi-browse"),
                 {QStringLiteral("-r"), QStringLiteral("-p"), QStringLiteral("_http._tcp")});
    if (!browse.waitForStarted(5000))
        return -1;
    settle();
    QElapsedTimer clock;
    clock.start();
    announce(announcer, name);
    const double ms = waitFor([&] { return resolved; }, clock);
    browse.kill();
    browse.waitForFinished(5000);
    return withdraw(announcer, name) ? ms : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool startDaemon(QProcess& process, const QString& program, const QStringList& arguments,
                 const QProcessEnvironment& environment, const std::function<bool()>& ready)
{
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    QElapsedTimer clock;
    clock.start();
    return waitFor(ready, clock) >= 0;
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(1000);
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread starts: nothing of the bench leaves the machine.
    PrivateNetwork::enter();
    if (!PrivateNetwork::unavailable().empty()) {
        std::fprintf(stderr, "%s\n", PrivateNetwork::unavailable().c_str());
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("PELLWORTH_BIN_DIR"))
        qputenv("PELLWORTH_BIN_DIR", PELLWORTH_BIN_DIR);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    if (!PluginWindow::loadBranding(QStringLiteral("PellworthBench-announcement"))) {
        std::fprintf(stderr, "no branding in %s/Resources\n", PELLWORTH_BIN_DIR);
        return 1;
    }

    QTemporaryDir dir;
    const QString busPath = dir.filePath(QStringLiteral("system_bus_socket"));
    QFile dbusConfig(dir.filePath(QStringLiteral("dbus.conf")));
    QFile avahiConfig(dir.filePath(QStringLiteral("avahi-daemon.conf")));
    if (!dir.isValid() || !dbusConfig.open(QIODevice::WriteOnly) ||
        !avahiConfig.open(QIODevice::WriteOnly))
        return 1;
    dbusConfig.write(QString::fromLatin1(kDbusConfig).arg(busPath).toUtf8());
    avahiConfig.write(kAvahiConfig);
    dbusConfig.close();
    avahiConfig.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), "unix:path=" + busPath);
    QProcess dbus;
    QProcess avahi;
    if (!startDaemon(dbus, QStringLiteral("dbus-daemon"),
                     {"--config-file=" + dbusConfig.fileName(), QStringLiteral("--nofork"),
                      QStringLiteral("--nopidfile")},
                     environment, [&] { return QFile::exists(busPath); })) {
        std::fprintf(stderr, "dbus-daemon did not start (is dbus installed?)\n");
        return 1;
    }
    const auto avahiUp = [&] {
        QProcess check;
        check.setProcessEnvironment(environment);
        check.start(QStringLiteral("avahi-daemon"), {QStringLiteral("--check")});
        return check.waitForFinished(2000) && check.exitCode() == 0;
    };
    if (!startDaemon(avahi, QStringLiteral("avahi-daemon"),
                     {"--file=" + avahiConfig.fileName(), QStringLiteral("--no-drop-root"),
                      QStringLiteral("--no-chroot"), QStringLiteral("--no-rlimits")},
                     environment, avahiUp)) {
        std::fprintf(stderr, "avahi-daemon did not start (is avahi-daemon installed?)\n");
        stop(dbus);
        return 1;
    }

    NovaWebServer server; // the card's resolve checks that port 80 answers
    Announcer announcer;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 80) ||
        !announcer.start().isEmpty()) {
        std::fprintf(stderr, "port 80 or the announcer (python3-zeroconf) not available\n");
        stop(avahi);
        stop(dbus);
        return 1;
    }

    std::vector<double> program;
    std::vector<double> reference;
    for (int round = 0; round < kRounds; ++round) {
        const double p = programRound(announcer, QStringLiteral("benchp%1").arg(round));
        const double a = avahiRound(announcer, QStringLiteral("bencha%1").arg(round), environment);
        std::printf("  round %d: program %8.1f ms, avahi-browse -r %8.1f ms\n", round + 1, p, a);
        std::fflush(stdout);
        if (p < 0 || a < 0) {
            std::fprintf(stderr, "round %d: no card or no resolved record within %d ms\n",
                         round + 1, kWaitMs);
            stop(avahi);
            stop(dbus);
            return 1;
        }
        program.push_back(p);
        reference.push_back(a);
    }
    stop(avahi);
    stop(dbus);

    const double p = median(program);
    const double a = median(reference);
    std::printf("Announcement to card, median of %d\n", kRounds);
    std::printf("  program %8.1f ms, avahi-browse -r %8.1f ms: ratio %.2f (goal <= %.1f)\n", p, a,
                p / a, kGoalRatio);
    return 0;
}
