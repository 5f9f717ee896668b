#pragma once

#include <QValidator>

// Any text but the empty one; empty is only Intermediate so the user may keep typing.
class NonEmptyValidator : public QValidator
{
    Q_OBJECT
public:
    explicit NonEmptyValidator(QObject* parent = nullptr);
    ~NonEmptyValidator() override;

    State validate(QString& input, int& pos) const override;
};
