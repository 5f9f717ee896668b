#include "framework/settingsslidervalue.h"

#include <QAbstractSlider>

SettingsSliderValue::SettingsSliderValue(QWidget* parent)
    : SettingsSliderLabel(parent)
{
}

void SettingsSliderValue::setSlider(QAbstractSlider* slider, const QString& format)
{
    if (m_slider)
        disconnect(m_slider, nullptr, this, nullptr);
    m_slider = slider;
    m_format = format;
    if (!m_slider)
        return;
    connect(m_slider, &QAbstractSlider::valueChanged, this, &SettingsSliderValue::onValueChanged);
    onValueChanged(m_slider->value());
}

void SettingsSliderValue::setDecimals(int decimals, float divisor)
{
    m_decimals = qMax(0, decimals);
    m_divisor = divisor == 0.0f ? 1.0f : divisor;
    if (m_slider)
        onValueChanged(m_slider->value());
}

void SettingsSliderValue::onValueChanged(int position)
{
    if (m_decimals == 0)
        setText(m_format.arg(position));
    else
        setText(m_format.arg(double(float(position) / m_divisor), 0, 'f', m_decimals));
}
