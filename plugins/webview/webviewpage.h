#pragma once

#include <QWebEnginePage>

class QWebChannel;
class QWebEngineDownloadRequest;
class WebChannelAPI;

// The browser page of a device's web UI: owns the channel its objects are published on, gives
// the page Qt's channel client and our two scripts, and asks where downloads go.
class WebViewPage : public QWebEnginePage
{
    Q_OBJECT
public:
    explicit WebViewPage(QObject* parent = nullptr);

    void registerObject(WebChannelAPI* object);
    QWebChannel* channel() const { return m_channel; }

    // "Supported File Types (*.a *.b);;All File Types (*)"
    static QString fileFilter(const QStringList& acceptedTypes);

protected:
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;

private:
    void onDownloadRequested(QWebEngineDownloadRequest* download);

    QWebChannel* m_channel;
};
