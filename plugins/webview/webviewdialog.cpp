#include "webviewdialog.h"

#include "dialogwebchannelapi.h"
#include "webview.h"
#include "webviewpage.h"

#include <QVBoxLayout>

WebViewDialog::WebViewDialog(WebView* parent)
    : QDialog(parent, Qt::Dialog)
    , m_view(new WebView(this))
    , m_page(m_view->webViewPage())
    , m_channel(m_page->channel())
    , m_api(new DialogWebChannelAPI(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(true);
    m_page->registerObject(m_api);
    connect(m_view, &QWebEngineView::titleChanged, this, &WebViewDialog::onPageTitleUpdated);
    connect(m_view, &QWebEngineView::urlChanged, this, &WebViewDialog::onPageUrlUpdated);
    connect(m_page, &QWebEnginePage::geometryChangeRequested, this,
            &WebViewDialog::onPageGeometryChangeRequested);
    connect(m_page, &QWebEnginePage::windowCloseRequested, this, [this] { done(1); });
    connect(m_api, &DialogWebChannelAPI::onMaxDialogWidthChanged, this,
            &WebViewDialog::onMaxWidthChanged);
    connect(m_api, &DialogWebChannelAPI::onMaxDialogHeightChanged, this,
            &WebViewDialog::onMaxHeightChanged);
    connect(m_api, &DialogWebChannelAPI::onInitialSizeSet, this, &WebViewDialog::onInitialSizeSet);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

void WebViewDialog::onPageGeometryChangeRequested(const QRect& geometry)
{
    m_width = geometry.width();
    m_height = geometry.height();
    applySizeLimits();
}

void WebViewDialog::onMaxWidthChanged(int)
{
    applySizeLimits();
}

void WebViewDialog::onMaxHeightChanged(int)
{
    applySizeLimits();
}

void WebViewDialog::applySizeLimits()
{
    // Until the page asks for a size the dialog keeps its own.
    if (m_width >= 0) {
        setMinimumWidth(m_width);
        setMaximumWidth(qMax(m_api->maxDialogWidth(), m_width));
    }
    if (m_height >= 0) {
        setMinimumHeight(m_height);
        setMaximumHeight(qMax(m_api->maxDialogHeight(), m_height));
    }
}

void WebViewDialog::onInitialSizeSet()
{
    QWidget* top = parentWidget();
    while (top && top->parentWidget())
        top = top->parentWidget();
    if (top)
        move(top->mapToGlobal(top->rect().center()) - rect().center());
    setWindowModality(Qt::WindowModal);
    open();
}

void WebViewDialog::onPageTitleUpdated(const QString& title)
{
    if (title.startsWith(QLatin1String("about:")) || title.endsWith(QLatin1String(".htm")) ||
        title.endsWith(QLatin1String(".html")))
        return;
    setWindowTitle(title);
}

void WebViewDialog::onPageUrlUpdated(const QUrl& url)
{
    if (m_view->url() != url)
        m_view->load(url);
}
