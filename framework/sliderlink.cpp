#include "framework/sliderlink.h"

#include "framework/flatimagebutton.h"
#include "framework/linkbar.h"
#include "framework/settingssliderlabel.h"
#include "framework/settingssliderwitheditablevalue.h"

#include <QEvent>
#include <QSignalBlocker>

#include <cmath>

namespace {
const int kLinkWidth = 26;
// Between the bracket and a default button beside it.
const int kButtonGap = 2;
} // namespace

SliderLink::SliderLink(SettingsSliderWithEditableValue* a, SettingsSliderWithEditableValue* b,
                       int mode, QWidget* parent)
    : SliderLinkBase(parent)
    , m_a(a)
    , m_b(b)
    , m_watchedA(a)
    , m_watchedB(b)
    , m_parentA(a->parentWidget())
    , m_parentB(b->parentWidget())
    , m_mode(mode)
{
    connect(this, &SliderLinkBase::onSliderLinkClicked, this, &SliderLink::onSliderLinkChanged);
    connect(a, qOverload<double>(&SettingsSliderWithEditableValue::valueChanged), this,
            &SliderLink::onSliderAValueChanged);
    connect(b, qOverload<double>(&SettingsSliderWithEditableValue::valueChanged), this,
            &SliderLink::onSliderBValueChanged);

    for (QObject* watched : {static_cast<QObject*>(a), static_cast<QObject*>(a->parentWidget()),
                             static_cast<QObject*>(parent), static_cast<QObject*>(b),
                             static_cast<QObject*>(b->parentWidget())}) {
        if (watched)
            watched->installEventFilter(this);
    }
    reposition();
}

SettingsSliderWithEditableValue* SliderLink::live(const QPointer<QObject>& slider)
{
    // A widget being destroyed no longer answers to its own class.
    return qobject_cast<SettingsSliderWithEditableValue*>(slider.data());
}

void SliderLink::setCouplingBlocked(bool blocked)
{
    if (blocked == m_blocked)
        return;
    m_blocked = blocked;
    if (!blocked)
        onSliderLinkChanged(m_linked);
}

void SliderLink::onSliderLinkChanged(bool linked)
{
    SettingsSliderWithEditableValue* a = live(m_a);
    SettingsSliderWithEditableValue* b = live(m_b);
    if (!linked || !a || !b)
        return;
    m_startA = a->value();
    m_startB = b->value();
}

void SliderLink::onSliderAValueChanged(double value)
{
    SettingsSliderWithEditableValue* a = live(m_a);
    SettingsSliderWithEditableValue* b = live(m_b);
    if (m_linked && !m_blocked && a && b)
        couple(a, m_startA, b, m_startB, value);
}

void SliderLink::onSliderBValueChanged(double value)
{
    SettingsSliderWithEditableValue* a = live(m_a);
    SettingsSliderWithEditableValue* b = live(m_b);
    if (m_linked && !m_blocked && a && b)
        couple(b, m_startB, a, m_startA, value);
}

void SliderLink::couple(SettingsSliderWithEditableValue* source, double sourceStart,
                        SettingsSliderWithEditableValue* target, double targetStart, double value)
{
    if (m_mode == Offset) {
        const double delta = value - source->previousValue();
        double overflow = 0.0;
        bool within;
        {
            const QSignalBlocker blocker(target);
            within = target->adjustBy(delta, &overflow);
        }
        if (!within) {
            // The target stopped at a bound: pull the source back so both moved alike.
            const QSignalBlocker blocker(source);
            source->setValue(source->previousValue() + (delta - overflow));
        }
    } else if (m_mode == Scaled) {
        const double sourceRange = source->maximum() - source->minimum();
        const double targetRange = target->maximum() - target->minimum();
        // A slider without a range has no share to keep.
        if (sourceRange == 0.0 || targetRange == 0.0)
            return;
        const double ratio = sourceRange / targetRange;
        double clamped = qMax(value, (target->minimum() - targetStart) * ratio + sourceStart);
        clamped = qMin(clamped, (target->maximum() - targetStart) * ratio + sourceStart);
        if (std::abs(source->value() - clamped) > 0.1) {
            const QSignalBlocker blocker(source);
            source->setValue(clamped);
        }
        const double mapped = (clamped - sourceStart) / sourceRange * targetRange + targetStart;
        const QSignalBlocker blocker(target);
        target->setValue(qBound(target->minimum(), mapped, target->maximum()));
    } else {
        const QSignalBlocker blocker(target);
        target->setValue(value);
    }
    Q_EMIT target->valueChanged();
}

void SliderLink::reposition()
{
    QWidget* parent = parentWidget();
    SettingsSliderWithEditableValue* sliderA = live(m_a);
    SettingsSliderWithEditableValue* sliderB = live(m_b);
    if (!parent || !sliderA || !sliderB || !sliderA->isVisible() || !sliderB->isVisible())
        return;
    // Through global coordinates: the sliders need not sit inside the link's parent.
    const QPoint a = parent->mapFromGlobal(sliderA->mapToGlobal(
        QPoint(sliderA->width() - sliderA->unitLabel()->width(), sliderA->height() / 2)));
    const QPoint b = parent->mapFromGlobal(sliderB->mapToGlobal(
        QPoint(sliderB->width() - sliderB->unitLabel()->width(), sliderB->height() / 2)));
    const int pictureHeight = m_linkButton->height();
    const int gap = std::abs(b.y() - a.y());
    const int bar = qMax(int(std::ceil((gap - pictureHeight) / 2.0)), 0) + 2;
    m_topBar->setFixedHeight(bar);
    m_bottomBar->setFixedHeight(bar);
    setFixedSize(kLinkWidth, pictureHeight + 2 * bar);
    int x = a.x() + 32;
    // A default button widens its slider past the unit, and the bracket would land beyond
    // the content; it goes into the gap before the button instead, leaving the button free.
    for (SettingsSliderWithEditableValue* slider : {sliderA, sliderB}) {
        if (!slider->defaultFrame()->isVisibleTo(slider))
            continue;
        const FlatImageButton* button = slider->defaultButton();
        const int left = parent->mapFromGlobal(button->mapToGlobal(QPoint(0, 0))).x();
        x = qMin(x, left - kLinkWidth - kButtonGap);
    }
    move(x, a.y());
}

bool SliderLink::eventFilter(QObject* watched, QEvent* event)
{
    const bool slider = watched == m_watchedA || watched == m_watchedB;
    const bool sliderParent = watched == m_parentA || watched == m_parentB;
    const bool ownParent = watched == parent();
    switch (event->type()) {
    case QEvent::Resize:
        if (slider || ownParent) {
            reposition();
            update();
        }
        break;
    case QEvent::ShowToParent:
        if (slider || sliderParent) {
            reposition();
            show();
            update();
        }
        break;
    case QEvent::HideToParent:
        if (slider || sliderParent) {
            hide();
            update();
        }
        break;
    case QEvent::LayoutRequest:
        if (ownParent) {
            reposition();
            update();
        }
        break;
    default:
        break;
    }
    return SliderLinkBase::eventFilter(watched, event);
}
