#pragma once

#include <QDir>
#include <QWebEnginePage>
#include <QWidget>
#include <QtTest>

#include <functional>

// The value of a script run in the page, or "<no answer>" when it gives none in time.
inline QVariant runScript(QWebEnginePage* page, const QString& script)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, [&](const QVariant& value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        return QStringLiteral("<no answer>");
    return result;
}

// Waits until the page's script holds the published objects.
inline bool waitForChannel(QWebEnginePage* page, int timeoutMs = 10000)
{
    return QTest::qWaitFor(
        [&] { return runScript(page, "window.webChannelObjects !== undefined").toBool(); },
        timeoutMs);
}

// Keeps a picture of the widget in the build folder's screenshots.
inline bool saveShot(QWidget* widget, QString name)
{
    const QString folder = qEnvironmentVariable("PELLWORTH_BIN_DIR") + "/../screenshots";
    QDir().mkpath(folder);
    name.replace(QLatin1Char(' '), QLatin1Char('-')).remove(QLatin1Char(':'));
    return widget->grab().save(folder + "/" + name + ".png");
}

// The warnings logged while the action runs and a little after, so that channel calls it made
// have arrived.
inline QStringList warningsDuring(const std::function<void()>& action)
{
    static QStringList* sink;
    QStringList warnings;
    sink = &warnings;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type == QtWarningMsg)
                sink->append(text);
        });
    action();
    QTest::qWait(300);
    qInstallMessageHandler(previous);
    return warnings;
}
