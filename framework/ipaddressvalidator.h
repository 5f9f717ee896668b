#pragma once

#include <QRegularExpression>
#include <QRegularExpressionValidator>

// A dotted IPv4 address: four octets 0-255 are Acceptable, the start of one Intermediate.
class IpAddressValidator : public QRegularExpressionValidator
{
    Q_OBJECT
public:
    explicit IpAddressValidator(QObject* parent = nullptr);
    ~IpAddressValidator() override;

    State validate(QString& input, int& pos) const override;

private:
    QRegularExpression m_partial;
};
