#include "framework/nonemptyvalidator.h"

NonEmptyValidator::NonEmptyValidator(QObject* parent)
    : QValidator(parent)
{
}

NonEmptyValidator::~NonEmptyValidator() = default;

QValidator::State NonEmptyValidator::validate(QString& input, int&) const
{
    return input.isEmpty() ? Intermediate : Acceptable;
}
