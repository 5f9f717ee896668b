#include "framework/unsignedintvalidator.h"

UnsignedIntValidator::UnsignedIntValidator(int bottom, int top, QObject* parent)
    : QIntValidator(bottom, top, parent)
{
}

UnsignedIntValidator::~UnsignedIntValidator() = default;

QValidator::State UnsignedIntValidator::validate(QString& input, int& pos) const
{
    if (input.isEmpty())
        return Intermediate;
    const QChar first = input.at(0);
    if (first < QLatin1Char('1') || first > QLatin1Char('9'))
        return Invalid;
    // Digits only: what passes here must read with QString::toInt, so no group separators.
    for (const QChar c : std::as_const(input)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return Invalid;
    }
    return QIntValidator::validate(input, pos);
}
