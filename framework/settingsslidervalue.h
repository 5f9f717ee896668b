#pragma once

#include "framework/settingssliderlabel.h"

class QAbstractSlider;

// Shows a slider's position through a format text.
class SettingsSliderValue : public SettingsSliderLabel
{
    Q_OBJECT
public:
    explicit SettingsSliderValue(QWidget* parent = nullptr);

    // Follows `slider` from now on, showing its position at once; "%1" in `format` is the value.
    void setSlider(QAbstractSlider* slider, const QString& format);
    // With decimals above 0 the position is divided by `divisor` and shown with that many
    // decimals.
    void setDecimals(int decimals, float divisor);

    QAbstractSlider* slider() const { return m_slider; }
    QString format() const { return m_format; }

public Q_SLOTS:
    void onValueChanged(int position);

private:
    QString m_format = QStringLiteral("%1");
    QAbstractSlider* m_slider = nullptr;
    int m_decimals = 0;
    float m_divisor = 1.0f;
};
