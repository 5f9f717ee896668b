#include "webchannelapi.h"

#include <QDebug>

#include <cmath>
#include <limits>

WebChannelAPI::WebChannelAPI(QString channelName, QObject* parent)
    : QObject(parent)
    , m_channelName(std::move(channelName))
{
}

void WebChannelAPI::refuse(const char* member, const char* expected) const
{
    qWarning().noquote() << QStringLiteral("%1.%2: refused, the argument is not %3")
                                .arg(m_channelName, QLatin1String(member), QLatin1String(expected));
}

bool WebChannelAPI::stringArgument(const QJsonValue& value, const char* method, QString* text) const
{
    if (!value.isString()) {
        refuse(method, "a string");
        return false;
    }
    *text = value.toString();
    return true;
}

bool WebChannelAPI::intArgument(const QJsonValue& value, const char* member, int* number) const
{
    // JSON numbers are doubles: 1.5, 1e300 and the like are not sizes.
    const double d = value.toDouble();
    if (!value.isDouble() || d != std::trunc(d) || d < std::numeric_limits<int>::min() ||
        d > std::numeric_limits<int>::max()) {
        refuse(member, "a whole number");
        return false;
    }
    *number = int(d);
    return true;
}
