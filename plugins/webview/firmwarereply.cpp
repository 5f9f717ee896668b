#include "firmwarereply.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

constexpr qsizetype kMaxNameChars = 255;

FirmwareReply failed(FirmwareReply::Outcome outcome, const QString& error)
{
    FirmwareReply reply;
    reply.outcome = outcome;
    reply.error = error;
    return reply;
}

// Characters that would change the upload path, its query or its host part.
bool plainFileName(const QString& name)
{
    if (name.size() > kMaxNameChars || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c == u'/' || c == u'\\' || c == u'?' ||
            c == u'#' || c == u'%')
            return false;
    }
    return true;
}

} // namespace

FirmwareReply FirmwareReply::parse(const QByteArray& body, const QString& field)
{
    if (body.size() > kMaxBytes)
        return failed(NotJson, QStringLiteral("reply of %1 bytes is too large").arg(body.size()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failed(NotJson, QStringLiteral("not JSON: ") + parseError.errorString());
    if (!document.isObject())
        return failed(NotJson, QStringLiteral("not a JSON object"));
    const QJsonValue response = document.object().value(QStringLiteral("response"));
    if (!response.isObject())
        return failed(NoValue, QStringLiteral("no \"response\" object"));
    const QJsonValue value = response.toObject().value(field);
    if (value.isUndefined())
        return failed(NoValue, QStringLiteral("no \"%1\"").arg(field));
    if (!value.isString())
        return failed(NoValue, QStringLiteral("\"%1\" is not a string").arg(field));
    if (value.toString().isEmpty())
        return failed(NoValue, QStringLiteral("\"%1\" is empty").arg(field));
    FirmwareReply reply;
    reply.outcome = Ok;
    reply.value = value.toString();
    return reply;
}

FirmwareReply FirmwareReply::parseUpdateStart(const QByteArray& body)
{
    FirmwareReply reply = parse(body, QStringLiteral("upload_name"));
    if (reply.outcome == Ok && !plainFileName(reply.value))
        return failed(NoValue, QStringLiteral("\"upload_name\" is not a plain file name"));
    return reply;
}

FirmwareReply FirmwareReply::parseFirmwareInfo(const QByteArray& body)
{
    return parse(body, QStringLiteral("software version"));
}
