#include "framework/ipaddressvalidator.h"

namespace {
// 0 to 255, with up to two leading zeros (007).
const QString kOctet = QStringLiteral("(25[0-5]|2[0-4][0-9]|[01]?[0-9]?[0-9])");
} // namespace

IpAddressValidator::IpAddressValidator(QObject* parent)
    : QRegularExpressionValidator(parent)
{
    const QString dot = QStringLiteral("\\.");
    setRegularExpression(QRegularExpression(
        QRegularExpression::anchoredPattern(kOctet + dot + kOctet + dot + kOctet + dot + kOctet)));
    // The start of an address: up to three octets each closed by a dot, then part of one more.
    // Spelled with explicit bounds so every PCRE2 version reads it alike ("{,3}" is literal
    // text before 10.43 and a repetition after).
    m_partial = QRegularExpression(QRegularExpression::anchoredPattern(
        QStringLiteral("(") + kOctet + dot + QStringLiteral("){0,3}") + kOctet +
        QStringLiteral("?")));
}

IpAddressValidator::~IpAddressValidator() = default;

QValidator::State IpAddressValidator::validate(QString& input, int& pos) const
{
    const int remembered = pos;
    const State state = QRegularExpressionValidator::validate(input, pos);
    if (state != Invalid)
        return state;
    if (m_partial.match(input).hasMatch()) {
        pos = remembered;
        return Intermediate;
    }
    return state;
}
