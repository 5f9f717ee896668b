#include "webchannelapi.h"

#include <QDebug>

WebChannelAPI::WebChannelAPI(QString channelName, QObject* parent)
    : QObject(parent)
    , m_channelName(std::move(channelName))
{
}

bool WebChannelAPI::stringArgument(const QJsonValue& value, const char* method, QString* text) const
{
    if (!value.isString()) {
        qWarning().noquote() << QStringLiteral("%1.%2: refused, the argument is not a string")
                                    .arg(m_channelName, QLatin1String(method));
        return false;
    }
    *text = value.toString();
    return true;
}
