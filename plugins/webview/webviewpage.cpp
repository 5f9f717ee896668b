#include "webviewpage.h"

#include "framework/appbranding.h"
#include "webchannelapi.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QWebChannel>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace {

QString readResource(const QString& name)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug().noquote() << "Failed to open '" + name + "' resource\n";
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// The profile is shared by every page: its scripts are added once, not once per page.
void addScript(QWebEngineProfile* profile, const QString& resource,
               QWebEngineScript::InjectionPoint point)
{
    QWebEngineScriptCollection* scripts = profile->scripts();
    if (!scripts->find(resource).isEmpty())
        return;
    QWebEngineScript script;
    script.setName(resource);
    script.setSourceCode(readResource(resource));
    script.setInjectionPoint(point);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    scripts->insert(script);
}

} // namespace

WebViewPage::WebViewPage(QObject* parent)
    : QWebEnginePage(parent)
    , m_channel(new QWebChannel(this))
{
    Q_INIT_RESOURCE(webview);
    setWebChannel(m_channel, QWebEngineScript::MainWorld);
    addScript(profile(), QStringLiteral(":/qtwebchannel/qwebchannel.js"),
              QWebEngineScript::DocumentReady);
    addScript(profile(), QStringLiteral(":/WebView/willReceiveWebChannel.js"),
              QWebEngineScript::DocumentCreation);
    addScript(profile(), QStringLiteral(":/WebView/webChannel.js"),
              QWebEngineScript::DocumentReady);
    connect(profile(), &QWebEngineProfile::downloadRequested, this,
            &WebViewPage::onDownloadRequested, Qt::DirectConnection);
}

void WebViewPage::registerObject(WebChannelAPI* object)
{
    m_channel->registerObject(object->channelName(), object);
}

QString WebViewPage::fileFilter(const QStringList& acceptedTypes)
{
    QString filter;
    if (!acceptedTypes.isEmpty())
        filter = QStringLiteral("Supported File Types (*%1);;")
                     .arg(acceptedTypes.join(QStringLiteral(" *")));
    return filter + QStringLiteral("All File Types (*)");
}

QStringList WebViewPage::chooseFiles(FileSelectionMode mode, const QStringList&,
                                     const QStringList& acceptedMimeTypes)
{
    const QString filter = fileFilter(acceptedMimeTypes);
    if (mode == FileSelectOpen) {
        const QString name = QFileDialog::getOpenFileName(nullptr, {}, {}, filter);
        return name.isEmpty() ? QStringList() : QStringList{name};
    }
    if (mode == FileSelectOpenMultiple)
        return QFileDialog::getOpenFileNames(nullptr, {}, {}, filter);
    return {};
}

void WebViewPage::onDownloadRequested(QWebEngineDownloadRequest* download)
{
    // Every page of the profile hears the request; the first one answers it.
    if (download->state() != QWebEngineDownloadRequest::DownloadRequested)
        return;
    const QString suggested = download->suggestedFileName();
    const qsizetype dot = suggested.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot < 0 ? suggested : suggested.left(dot);
    const QString extension = dot < 0 ? QString() : suggested.mid(dot);

    QSettings settings(QStringLiteral("Corvane Design"), AppBranding::appName());
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (settings.contains(QStringLiteral("settingsPath")))
        folder = settings.value(QStringLiteral("settingsPath")).toString();
    if (!folder.isEmpty())
        folder += QDir::separator();

    QString chosen = QFileDialog::getSaveFileName(nullptr, {}, folder + stem);
    if (chosen.isEmpty()) {
        download->cancel();
        return;
    }
    if (QFileInfo(chosen).suffix().isEmpty())
        chosen += extension;
    const QFileInfo info(chosen);
    download->setDownloadDirectory(info.absolutePath());
    download->setDownloadFileName(info.fileName());
    download->accept();
    settings.setValue(QStringLiteral("settingsPath"), info.absoluteDir().canonicalPath());
}
