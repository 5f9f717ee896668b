#include "webview.h"

#include "webviewdialog.h"
#include "webviewfocuseventfilter.h"
#include "webviewpage.h"

#include <QDebug>
#include <QDesktopServices>

WebView::WebView(QWidget* parent)
    : QWebEngineView(parent)
    , m_page(new WebViewPage(this))
{
    setPage(m_page);
    connect(this, &QWebEngineView::loadProgress, this,
            [](int p) { qDebug().noquote() << QStringLiteral("Webview: Loaded %1%").arg(p); });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool ok) {
        if (QWidget* proxy = focusProxy()) {
            if (!proxy->findChild<WebViewFocusEventFilter*>(QString(), Qt::FindDirectChildrenOnly))
                proxy->installEventFilter(new WebViewFocusEventFilter(proxy));
        }
        qDebug().noquote() << QStringLiteral("Webview: Load finished, success: %1").arg(ok);
        m_ready = ok;
        emit readyStateChanged(ok);
    });
    connect(this, &QWebEngineView::urlChanged, this, [](const QUrl& url) {
        qDebug().noquote() << QStringLiteral("WebView: URL changed to '%1'").arg(url.toString());
    });
}

bool WebView::opensInDesktop(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QWebEngineView* WebView::createWindow(QWebEnginePage::WebWindowType type)
{
    if (type == QWebEnginePage::WebDialog)
        return (new WebViewDialog(this))->view();
    auto* plain = new QWebEngineView(this);
    plain->hide();
    connect(plain->page(), &QWebEnginePage::urlChanged, plain, [plain](const QUrl& url) {
        if (opensInDesktop(url))
            QDesktopServices::openUrl(url);
        else
            qWarning().noquote() << QStringLiteral("Invalid URL specified to open: ") +
                                        url.toString();
        plain->page()->disconnect();
        plain->disconnect();
        plain->deleteLater();
    });
    return plain;
}
