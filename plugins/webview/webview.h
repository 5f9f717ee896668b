#pragma once

#include <QWebEngineView>

class WebViewPage;

// The embedded browser of a device's web UI. New windows of the page open in a dialog of ours
// when the page asks for a dialog, and in the desktop's browser otherwise.
class WebView : public QWebEngineView
{
    Q_OBJECT
public:
    explicit WebView(QWidget* parent = nullptr);

    WebViewPage* webViewPage() const { return m_page; }
    bool isReady() const { return m_ready; }

    // Only web addresses may leave for the desktop's browser.
    static bool opensInDesktop(const QUrl& url);

Q_SIGNALS:
    void readyStateChanged(bool ready);

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType type) override;

private:
    WebViewPage* m_page;
    bool m_ready = false;
};
