#pragma once

#include "framework/sliderlinkbase.h"

class SettingsSliderWithEditableValue;

// Couples two sliders while linked. Mode 0 gives the other slider the same value, mode 1 moves
// it by the same amount, mode 2 keeps both at the same share of their ranges from where they
// were when linked.
class SliderLink : public SliderLinkBase
{
    Q_OBJECT
public:
    enum Mode { Same = 0, Offset = 1, Scaled = 2 };

    SliderLink(SettingsSliderWithEditableValue* a, SettingsSliderWithEditableValue* b, int mode,
               QWidget* parent = nullptr);

    int mode() const { return m_mode; }
    SettingsSliderWithEditableValue* sliderA() const { return m_a; }
    SettingsSliderWithEditableValue* sliderB() const { return m_b; }

public Q_SLOTS:
    virtual void onSliderAValueChanged(double value);
    virtual void onSliderBValueChanged(double value);
    virtual void onSliderLinkChanged(bool linked);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void couple(SettingsSliderWithEditableValue* source, double sourceStart,
                SettingsSliderWithEditableValue* target, double targetStart, double value);
    void reposition();

    SettingsSliderWithEditableValue* m_a;
    SettingsSliderWithEditableValue* m_b;
    double m_startA = 0.0;
    double m_startB = 0.0;
    int m_mode;
};
