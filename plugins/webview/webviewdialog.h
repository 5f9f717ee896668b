#pragma once

#include <QDialog>

class DialogWebChannelAPI;
class QWebChannel;
class WebView;
class WebViewPage;

// A dialog window the device's page opened; it takes the size the page asks for and shows once
// the page says it has set it. Deleted when closed.
class WebViewDialog : public QDialog
{
    Q_OBJECT
public:
    explicit WebViewDialog(WebView* parent);

    WebView* view() const { return m_view; }
    DialogWebChannelAPI* api() const { return m_api; }

private Q_SLOTS:
    void onPageGeometryChangeRequested(const QRect& geometry);
    void onPageTitleUpdated(const QString& title);
    void onPageUrlUpdated(const QUrl& url);
    void onMaxWidthChanged(int width);
    void onMaxHeightChanged(int height);
    void onInitialSizeSet();

private:
    void applySizeLimits();

    WebView* m_view;
    WebViewPage* m_page;
    QWebChannel* m_channel;
    DialogWebChannelAPI* m_api;
    int m_width = -1;
    int m_height = -1;
};
