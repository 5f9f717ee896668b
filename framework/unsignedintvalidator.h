#pragma once

#include <QIntValidator>

// A decimal number in [bottom, top] written without sign, leading zero or leading space.
class UnsignedIntValidator : public QIntValidator
{
    Q_OBJECT
public:
    UnsignedIntValidator(int bottom, int top, QObject* parent = nullptr);
    ~UnsignedIntValidator() override;

    State validate(QString& input, int& pos) const override;
};
