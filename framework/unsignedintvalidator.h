#pragma once

#include <QIntValidator>

// A decimal number in [bottom, top] written in plain digits: no sign, leading zero, space or
// group separator.
class UnsignedIntValidator : public QIntValidator
{
    Q_OBJECT
public:
    UnsignedIntValidator(int bottom, int top, QObject* parent = nullptr);
    ~UnsignedIntValidator() override;

    State validate(QString& input, int& pos) const override;
};
