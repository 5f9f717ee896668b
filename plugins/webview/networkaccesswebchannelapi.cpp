#include "networkaccesswebchannelapi.h"

#include "vornosrestconfigurationserverdevice.h"

#include <QClipboard>
#include <QGuiApplication>

NetworkAccessWebChannelAPI::NetworkAccessWebChannelAPI(
    const std::shared_ptr<VornOSRESTConfigurationServerDevice>& device, QObject* parent)
    : WebChannelAPI(QStringLiteral("NetworkAccessAPI"), parent)
    , m_device(device)
{
}

void NetworkAccessWebChannelAPI::copyToClipboard(const QJsonValue& text)
{
    QString value;
    if (stringArgument(text, "copyToClipboard", &value))
        QGuiApplication::clipboard()->setText(value, QClipboard::Clipboard);
}

void NetworkAccessWebChannelAPI::openUrl(const QJsonValue& url)
{
    QString value;
    if (m_device && stringArgument(url, "openUrl", &value))
        m_device->openUrl(QUrl(value));
}
