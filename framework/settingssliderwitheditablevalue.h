#pragma once

#include "framework/settingslineedit.h"

#include <QFrame>

class FlatImageButton;
class QAbstractSlider;
class QDoubleValidator;
class SettingsSlider;
class SettingsSliderLabel;

// A slider with a field that shows its value and takes a typed one, a unit and an optional
// button that goes back to a default. Values are decimals; the slider holds them as integer
// positions of value x 10^decimals.
class SettingsSliderWithEditableValue : public QFrame
{
    Q_OBJECT
public:
    // The value field: commits a typed value on Return, Enter or leaving it, clamped to the
    // range; an empty or half-typed number falls back to the slider's value.
    class SettingsSliderLineEdit : public SettingsLineEdit
    {
    public:
        SettingsSliderLineEdit(QAbstractSlider* slider, QWidget* parent = nullptr);

        void commit();
        // The text read by the validator's rule and clamped to its range, as commit() would
        // leave it; false when the text is no number yet ("", "-", "+", ".").
        bool typedValue(double* value, bool* clamped = nullptr) const;

    protected:
        void keyPressEvent(QKeyEvent* event) override;
        void focusOutEvent(QFocusEvent* event) override;

    private:
        QAbstractSlider* m_slider;
    };

    explicit SettingsSliderWithEditableValue(QWidget* parent = nullptr);

    void setMinimum(double minimum);
    void setMaximum(double maximum);
    void setDecimals(int decimals);
    void setUnitText(const QString& text);
    void setDefaultEnabled(bool enabled);
    void setDefaultValue(double value);
    void setValue(double value);
    // The value the field shows.
    double value() const;
    double minimum() const { return m_minimum; }
    double maximum() const { return m_maximum; }
    int decimals() const { return m_decimals; }
    double defaultValue() const { return m_defaultValue; }
    // The value before the latest change.
    double previousValue() const { return m_previousValue; }
    // Moves the value by `delta`. When that passes a bound the value stops there, *overflow
    // gets the part that did not fit and the result is false.
    bool adjustBy(double delta, double* overflow);

    SettingsSlider* slider() const { return m_slider; }
    SettingsSliderLineEdit* edit() const { return m_edit; }
    QDoubleValidator* validator() const { return m_validator; }
    SettingsSliderLabel* unitLabel() const { return m_unitLabel; }
    FlatImageButton* defaultButton() const { return m_defaultButton; }
    QFrame* unitFrame() const { return m_unitFrame; }
    QFrame* defaultFrame() const { return m_defaultFrame; }

Q_SIGNALS:
    void valueChanged(double value);
    void valueChanged();
    void actionTriggered(int action);

public Q_SLOTS:
    void onSliderValueChanged(int position);
    void onEditableValueChanged();
    void onDefaultClicked();

private:
    void recordPrevious(double newValue);
    // Field and slider show `value` without telling anyone.
    void display(double value);
    void emitValue(double value);

    SettingsSlider* m_slider;
    SettingsSliderLineEdit* m_edit;
    QDoubleValidator* m_validator;
    SettingsSliderLabel* m_unitLabel;
    FlatImageButton* m_defaultButton;
    double m_minimum = 0.0;
    double m_maximum = 100.0;
    int m_decimals = 2;
    double m_previousValue = 0.0;
    bool m_previousValid = false;
    bool m_defaultEnabled = false;
    double m_defaultValue = 0.0;
    QFrame* m_unitFrame;
    QFrame* m_defaultFrame;
};
