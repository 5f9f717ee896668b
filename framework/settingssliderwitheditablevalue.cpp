#include "framework/settingssliderwitheditablevalue.h"

#include "framework/flatimagebutton.h"
#include "framework/settingsslider.h"
#include "framework/settingssliderlabel.h"
#include "framework/style.h"
#include "framework/tighthboxlayout.h"

#include <QDoubleValidator>
#include <QKeyEvent>
#include <QSignalBlocker>

#include <cmath>

SettingsSliderWithEditableValue::SettingsSliderLineEdit::SettingsSliderLineEdit(
    QAbstractSlider* slider, QWidget* parent)
    : SettingsLineEdit(parent)
    , m_slider(slider)
{
}

bool SettingsSliderWithEditableValue::SettingsSliderLineEdit::typedValue(double* value,
                                                                         bool* clamped) const
{
    const auto* range = qobject_cast<const QDoubleValidator*>(validator());
    if (!range)
        return false;
    // The validator's own locale reads the text, so nothing it lets through reads differently.
    bool ok = false;
    const double typed = range->locale().toDouble(text(), &ok);
    if (!ok || !std::isfinite(typed))
        return false;
    *value = typed > range->top()      ? range->top()
             : typed < range->bottom() ? range->bottom()
                                       : typed;
    if (clamped)
        *clamped = *value != typed;
    return true;
}

void SettingsSliderWithEditableValue::SettingsSliderLineEdit::commit()
{
    const auto* range = qobject_cast<const QDoubleValidator*>(validator());
    const int decimals = range ? range->decimals() : 0;
    const QSignalBlocker blocker(this);
    double value = 0.0;
    bool clamped = false;
    if (typedValue(&value, &clamped)) {
        if (clamped)
            setText(QString::number(value, 'f', decimals));
    } else if (m_slider) {
        // Half-typed text goes back to the last value that counted.
        setText(QString::number(fromFixed(m_slider->value(), decimals), 'f', decimals));
    }
}

void SettingsSliderWithEditableValue::SettingsSliderLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        commit();
    SettingsLineEdit::keyPressEvent(event);
}

void SettingsSliderWithEditableValue::SettingsSliderLineEdit::focusOutEvent(QFocusEvent* event)
{
    commit();
    SettingsLineEdit::focusOutEvent(event);
}

SettingsSliderWithEditableValue::SettingsSliderWithEditableValue(QWidget* parent)
    : QFrame(parent)
{
    m_slider = new SettingsSlider(this);
    m_edit = new SettingsSliderLineEdit(m_slider, this);
    m_validator = new QDoubleValidator(m_minimum, m_maximum, m_decimals, this);
    // Values are written with a dot whatever the user's locale and read the same way; a comma
    // is refused as it is typed rather than read as something else later.
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    m_validator->setLocale(plain);
    m_validator->setNotation(QDoubleValidator::StandardNotation);
    m_slider->setRange(toFixed(m_minimum, m_decimals), toFixed(m_maximum, m_decimals));

    m_edit->setFixedSize(55, 28);
    m_edit->setStatusIconEnabled(false);
    m_edit->setValidator(m_validator);

    m_unitLabel = new SettingsSliderLabel;
    m_unitLabel->setFixedWidth(m_unitLabel->fontMetrics().boundingRect(QString()).width());
    m_unitFrame = new QFrame(this);
    auto* unitRow = new TightHBoxLayout(m_unitFrame);
    unitRow->addSpacing(6);
    unitRow->addWidget(m_unitLabel);
    m_unitFrame->hide();

    const QPixmap refresh = loadHiDpiPixmap(QStringLiteral(":/Refresh"));
    m_defaultButton = new FlatImageButton(fadedPixmap(refresh, 3));
    m_defaultButton->setHoverPixmap(refresh);
    m_defaultButton->setCheckedPixmap(refresh);
    m_defaultButton->setEnabled(false);
    m_defaultFrame = new QFrame(this);
    auto* defaultRow = new TightHBoxLayout(m_defaultFrame);
    defaultRow->addSpacing(30);
    defaultRow->addWidget(m_defaultButton);
    m_defaultFrame->hide();

    auto* row = new TightHBoxLayout(this);
    row->addWidget(m_slider);
    row->addSpacing(12);
    row->addWidget(m_edit);
    row->addWidget(m_unitFrame, 1);
    row->addWidget(m_defaultFrame);
    setFixedHeight(35);

    connect(m_slider, &QAbstractSlider::valueChanged, this,
            &SettingsSliderWithEditableValue::onSliderValueChanged);
    connect(m_slider, &QAbstractSlider::actionTriggered, this,
            &SettingsSliderWithEditableValue::actionTriggered);
    connect(m_edit, &QLineEdit::editingFinished, this,
            &SettingsSliderWithEditableValue::onEditableValueChanged);
    connect(m_defaultButton, &QAbstractButton::clicked, this,
            &SettingsSliderWithEditableValue::onDefaultClicked);

    display(m_minimum);
}

void SettingsSliderWithEditableValue::setMinimum(double minimum)
{
    m_minimum = minimum;
    m_validator->setBottom(minimum);
    m_slider->setMinimum(toFixed(minimum, m_decimals));
}

void SettingsSliderWithEditableValue::setMaximum(double maximum)
{
    m_maximum = maximum;
    m_validator->setTop(maximum);
    m_slider->setMaximum(toFixed(maximum, m_decimals));
}

void SettingsSliderWithEditableValue::setDecimals(int decimals)
{
    const double current = value();
    m_decimals = qBound(0, decimals, 6);
    m_validator->setDecimals(m_decimals);
    // Positions count in the new steps from now on.
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setRange(toFixed(m_minimum, m_decimals), toFixed(m_maximum, m_decimals));
    }
    display(current);
}

void SettingsSliderWithEditableValue::setUnitText(const QString& text)
{
    m_unitLabel->setText(text);
    m_unitLabel->setFixedWidth(m_unitLabel->fontMetrics().boundingRect(text).width());
    m_unitFrame->setVisible(!text.isEmpty());
}

void SettingsSliderWithEditableValue::setDefaultEnabled(bool enabled)
{
    m_defaultEnabled = enabled;
    m_defaultButton->setEnabled(enabled);
    m_defaultFrame->setVisible(enabled);
}

void SettingsSliderWithEditableValue::setDefaultValue(double value)
{
    m_defaultValue = value;
}

double SettingsSliderWithEditableValue::value() const
{
    double typed = 0.0;
    if (m_edit->typedValue(&typed))
        return typed;
    return fromFixed(m_slider->value(), m_decimals);
}

void SettingsSliderWithEditableValue::recordPrevious(double newValue)
{
    if (m_previousValid) {
        m_previousValue = value();
    } else {
        m_previousValue = newValue;
        m_previousValid = true;
    }
}

void SettingsSliderWithEditableValue::display(double value)
{
    {
        const QSignalBlocker blocker(m_edit);
        m_edit->setText(QString::number(value, 'f', m_decimals));
    }
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(toFixed(value, m_decimals));
}

void SettingsSliderWithEditableValue::emitValue(double value)
{
    Q_EMIT valueChanged(value);
    Q_EMIT valueChanged();
}

void SettingsSliderWithEditableValue::onSliderValueChanged(int position)
{
    const double v = fromFixed(position, m_decimals);
    recordPrevious(v);
    {
        const QSignalBlocker blocker(m_edit);
        m_edit->setText(QString::number(v, 'f', m_decimals));
    }
    emitValue(v);
}

void SettingsSliderWithEditableValue::onEditableValueChanged()
{
    const double v = value();
    recordPrevious(v);
    {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(toFixed(v, m_decimals));
    }
    emitValue(v);
}

void SettingsSliderWithEditableValue::setValue(double value)
{
    const double v = qBound(m_minimum, value, qMax(m_minimum, m_maximum));
    recordPrevious(v);
    display(v);
    emitValue(v);
}

bool SettingsSliderWithEditableValue::adjustBy(double delta, double* overflow)
{
    double target = value() + delta;
    bool within = true;
    if (target > m_maximum) {
        if (overflow)
            *overflow = target - m_maximum;
        target = m_maximum;
        within = false;
    } else if (target < m_minimum) {
        if (overflow)
            *overflow = target - m_minimum;
        target = m_minimum;
        within = false;
    }
    recordPrevious(target);
    display(target);
    emitValue(target);
    return within;
}

void SettingsSliderWithEditableValue::onDefaultClicked()
{
    // The default is a value like the bounds, so it goes through the same scaling.
    m_slider->setValue(toFixed(m_defaultValue, m_decimals));
}
