#pragma once

#include "framework/sliderlinkbase.h"

#include <QPointer>

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
    // While blocked neither slider moves the other, so stored values can be put back one by
    // one. Unblocking a linked pair couples it from the values it then has.
    void setCouplingBlocked(bool blocked);
    bool isCouplingBlocked() const { return m_blocked; }
    // Null once the slider is gone (or going).
    SettingsSliderWithEditableValue* sliderA() const { return live(m_a); }
    SettingsSliderWithEditableValue* sliderB() const { return live(m_b); }

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

    // Either slider, or its row, may go before the link does, and the link still sees their
    // events while they are being destroyed: only a slider that is still whole is used.
    static SettingsSliderWithEditableValue* live(const QPointer<QObject>& slider);

    QPointer<QObject> m_a;
    QPointer<QObject> m_b;
    // Compared with, never followed.
    const QObject* m_watchedA;
    const QObject* m_watchedB;
    const QObject* m_parentA;
    const QObject* m_parentB;
    double m_startA = 0.0;
    double m_startB = 0.0;
    int m_mode;
    bool m_blocked = false;
};
