// The settings controls: typed slider values, the wheel rule, status icons and pictures.
#include "framework/customlineedit.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/imagegroupbutton.h"
#include "framework/settingscombobox.h"
#include "framework/settingscomboboxdelegate.h"
#include "framework/settingslineedit.h"
#include "framework/settingsslider.h"
#include "framework/settingsslidervalue.h"
#include "framework/settingssliderwitheditablevalue.h"
#include "framework/style.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// A shown, active window so that focus behaves as it does for a user.
struct Window
{
    Window()
    {
        widget.resize(600, 200);
        new QVBoxLayout(&widget);
    }
    template<typename T> T* add(T* child)
    {
        widget.layout()->addWidget(child);
        return child;
    }
    bool show()
    {
        widget.show();
        widget.activateWindow();
        return QTest::qWaitForWindowActive(&widget);
    }
    QWidget widget;
};

bool sendWheel(QWidget* target, int steps)
{
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * steps), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(target, &wheel);
    return wheel.isAccepted();
}

QPixmap square(int size, const QColor& colour)
{
    QPixmap pixmap(size, size);
    pixmap.fill(colour);
    return pixmap;
}

} // namespace

class TestSettingsWidgets : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { initFrameworkResources(); }

    void typedSliderValueIsClampedOnReturn_data()
    {
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("position");

        QTest::newRow("above range") << 0.0 << 100.0 << 2 << "150"
                                     << "100.00" << 10000;
        QTest::newRow("below range") << 10.0 << 100.0 << 2 << "5"
                                     << "10.00" << 1000;
        QTest::newRow("inside range") << 0.0 << 100.0 << 2 << "42.5"
                                      << "42.5" << 4250;
        QTest::newRow("negative bound") << -1.5 << 1.5 << 1 << "-9"
                                        << "-1.5" << -15;
        QTest::newRow("whole numbers") << 0.0 << 10.0 << 0 << "12"
                                       << "10" << 10;
    }
    void typedSliderValueIsClampedOnReturn()
    {
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(int, decimals);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        QFETCH(int, position);

        Window window;
        auto* slider = window.add(new SettingsSliderWithEditableValue);
        slider->setDecimals(decimals);
        slider->setMinimum(minimum);
        slider->setMaximum(maximum);
        QVERIFY(window.show());
        QCOMPARE(slider->slider()->minimum(), toFixed(minimum, decimals));

        QSignalSpy changed(slider,
                           qOverload<double>(&SettingsSliderWithEditableValue::valueChanged));
        slider->edit()->setFocus();
        slider->edit()->selectAll();
        QTest::keyClicks(slider->edit(), typed);
        QTest::keyClick(slider->edit(), Qt::Key_Return);

        QCOMPARE(slider->edit()->text(), shown);
        QCOMPARE(slider->slider()->value(), position);
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.last().at(0).toDouble(), shown.toDouble());
    }

    void clearedValueFallsBackToTheSlider()
    {
        Window window;
        auto* slider = window.add(new SettingsSliderWithEditableValue);
        auto* other = window.add(new QLineEdit);
        QVERIFY(window.show());
        slider->setValue(37.25);
        QCOMPARE(slider->slider()->value(), 3725);

        slider->edit()->setFocus();
        slider->edit()->clear();
        other->setFocus();
        QCOMPARE(slider->edit()->text(), QStringLiteral("37.25"));
        QCOMPARE(slider->slider()->value(), 3725);
    }

    // What the field lets through is what the value reads: a comma is refused as it is typed,
    // and text that is no number yet goes back to the last value when the field is left.
    void onlyNumbersReachTheValue_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byReturn");
        QTest::addColumn<QString>("whileTyping");
        QTest::addColumn<double>("readWhileTyping");
        QTest::addColumn<QString>("shown");

        QTest::newRow("thousands") << "1,000" << true << "1000" << 1000.0 << "1000";
        QTest::newRow("decimal comma") << "1,5" << false << "15" << 15.0 << "15";
        QTest::newRow("plus") << "+" << false << "+" << 50.0 << "50.00";
        QTest::newRow("plus, return") << "+" << true << "+" << 50.0 << "50.00";
        QTest::newRow("minus dot") << "-." << false << "-." << 50.0 << "50.00";
        QTest::newRow("dot") << "." << true << "." << 50.0 << "50.00";
    }
    void onlyNumbersReachTheValue()
    {
        QFETCH(QString, typed);
        QFETCH(bool, byReturn);
        QFETCH(QString, whileTyping);
        QFETCH(double, readWhileTyping);
        QFETCH(QString, shown);

        Window window;
        auto* slider = window.add(new SettingsSliderWithEditableValue);
        slider->setMinimum(-10);
        slider->setMaximum(5000);
        auto* other = window.add(new QLineEdit);
        QVERIFY(window.show());
        slider->setValue(50);
        QSignalSpy changed(slider,
                           qOverload<double>(&SettingsSliderWithEditableValue::valueChanged));

        slider->edit()->setFocus();
        slider->edit()->selectAll();
        QTest::keyClicks(slider->edit(), typed);
        QCOMPARE(slider->edit()->text(), whileTyping);
        QCOMPARE(slider->value(), readWhileTyping);
        if (byReturn)
            QTest::keyClick(slider->edit(), Qt::Key_Return);
        else
            other->setFocus();

        QCOMPARE(slider->edit()->text(), shown);
        const double value = shown.toDouble();
        QCOMPARE(slider->value(), value);
        QCOMPARE(slider->slider()->value(), toFixed(value, 2));
        for (const QList<QVariant>& emitted : std::as_const(changed))
            QCOMPARE(emitted.at(0).toDouble(), value);
    }

    void movingTheSliderUpdatesTheValue()
    {
        SettingsSliderWithEditableValue slider;
        slider.setDecimals(1);
        slider.setMinimum(-10);
        slider.setMaximum(10);
        QSignalSpy plain(&slider, qOverload<>(&SettingsSliderWithEditableValue::valueChanged));
        slider.slider()->setValue(-25);
        QCOMPARE(slider.edit()->text(), QStringLiteral("-2.5"));
        QCOMPARE(slider.value(), -2.5);
        QCOMPARE(plain.count(), 1);
    }

    void adjustByReportsTheOverflow()
    {
        SettingsSliderWithEditableValue slider;
        slider.setValue(95);
        double overflow = 0;
        QVERIFY(!slider.adjustBy(10, &overflow));
        QCOMPARE(overflow, 5.0);
        QCOMPARE(slider.value(), 100.0);
        QCOMPARE(slider.previousValue(), 95.0);
        overflow = 0;
        QVERIFY(slider.adjustBy(-30, &overflow));
        QCOMPARE(overflow, 0.0);
        QCOMPARE(slider.value(), 70.0);
        QVERIFY(!slider.adjustBy(-80, nullptr));
        QCOMPARE(slider.value(), 0.0);
    }

    void unitAndDefaultButton()
    {
        SettingsSliderWithEditableValue slider;
        slider.setDecimals(1);
        slider.setMinimum(0);
        slider.setMaximum(10);
        QVERIFY(slider.unitFrame()->isHidden());
        slider.setUnitText(QStringLiteral("dB"));
        QVERIFY(!slider.unitFrame()->isHidden());
        slider.setUnitText(QString());
        QVERIFY(slider.unitFrame()->isHidden());

        QVERIFY(slider.defaultFrame()->isHidden());
        slider.setDefaultEnabled(true);
        slider.setDefaultValue(2.5);
        QVERIFY(!slider.defaultFrame()->isHidden());
        slider.defaultButton()->click();
        QCOMPARE(slider.edit()->text(), QStringLiteral("2.5"));
        QCOMPARE(slider.slider()->value(), 25);
    }

    void wheelNeedsKeyboardFocus()
    {
        Window window;
        auto* slider = window.add(new SettingsSlider);
        auto* combo = window.add(new SettingsComboBox(nullptr, 240));
        combo->addItems({QStringLiteral("One"), QStringLiteral("Two"), QStringLiteral("Three")});
        auto* other = window.add(new QLineEdit);
        slider->setRange(0, 100);
        slider->setValue(50);
        QVERIFY(window.show());
        other->setFocus();

        QVERIFY(!sendWheel(slider, -1));
        QCOMPARE(slider->value(), 50);
        QVERIFY(!sendWheel(combo, -1));
        QCOMPARE(combo->currentIndex(), 0);

        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, 15));
        QVERIFY(slider->hasFocus());
        const int before = slider->value();
        QVERIFY(sendWheel(slider, -1));
        QVERIFY(slider->value() != before);

        // The combo box never takes focus, so the wheel never changes its choice.
        QTest::mouseClick(combo, Qt::LeftButton);
        QVERIFY(!combo->hasFocus());
    }

    void comboSeparators()
    {
        SettingsComboBox combo(nullptr, 240);
        combo.addItem(QStringLiteral("separator"));
        combo.insertSeparator(1);
        combo.addItem(QStringLiteral("Last"));
        QAbstractItemDelegate* delegate = combo.view()->itemDelegate();
        QVERIFY(qobject_cast<SettingsComboBoxDelegate*>(delegate));
        QStyleOptionViewItem option;
        option.initFrom(combo.view());
        option.rect = QRect(0, 0, 240, 22);

        const QModelIndex plain = combo.model()->index(0, 0);
        const QModelIndex separator = combo.model()->index(1, 0);
        QCOMPARE(delegate->sizeHint(option, separator), QSize(0, 5));
        QVERIFY(delegate->sizeHint(option, plain).height() > 5);

        QImage image(240, 22, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            delegate->paint(&painter, option, separator);
        }
        QCOMPARE(image.pixelColor(0, 10), QColor(Qt::white));
        QCOMPARE(image.pixelColor(1, 10), QColor(181, 181, 181));
        QCOMPARE(image.pixelColor(238, 10), QColor(181, 181, 181));
        QCOMPARE(image.pixelColor(239, 10), QColor(Qt::white));
        QCOMPARE(image.pixelColor(120, 1), QColor(Qt::white));
        QCOMPARE(image.pixelColor(120, 2), QColor(181, 181, 181));
    }

    void lineEditStatusIcon()
    {
        Window window;
        auto* edit = window.add(new SettingsLineEdit);
        auto* other = window.add(new QLineEdit);
        edit->setValidatorKind(SettingsLineEdit::NonEmpty);
        QVERIFY(window.show());

        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("x"));
        QCOMPARE(edit->statusIconState(), int(SettingsLineEdit::OkIcon));
        QVERIFY(edit->statusIconLabel()->isVisible());
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->statusIconState(), int(SettingsLineEdit::AlertIcon));

        // The alert stays after leaving; the ok mark goes.
        other->setFocus();
        QCOMPARE(edit->statusIconState(), int(SettingsLineEdit::AlertIcon));
        QVERIFY(edit->statusIconLabel()->isVisible());
        edit->setText(QStringLiteral("name"));
        QCOMPARE(edit->statusIconState(), int(SettingsLineEdit::NoIcon));
        QVERIFY(!edit->statusIconLabel()->isVisible());

        edit->setStatusIconEnabled(false);
        edit->clear();
        QVERIFY(!edit->statusIconLabel()->isVisible());
    }

    void customLineEditReverts()
    {
        Window window;
        auto* edit = window.add(new CustomLineEdit);
        auto* other = window.add(new QLineEdit);
        edit->setValidatorKind(SettingsLineEdit::IpAddress);
        edit->setRevertText(QStringLiteral("10.0.0.1"));
        edit->setText(QStringLiteral("10.0.0.1"));
        QVERIFY(window.show());
        QSignalSpy finished(edit, &CustomLineEdit::editingFinishedWithNewText);

        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("5"));
        QVERIFY(edit->isEdited());
        QTest::keyClick(edit, Qt::Key_Escape);
        QCOMPARE(edit->text(), QStringLiteral("10.0.0.1"));
        QVERIFY(!edit->isEdited());

        edit->setText(QStringLiteral("10.0."));
        other->setFocus();
        QCOMPARE(edit->text(), QStringLiteral("10.0.0.1"));
        QCOMPARE(finished.count(), 0);

        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("10.0.0.2"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(finished.count(), 1);
    }

    void sliderValueLabel_data()
    {
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("shown");
        QTest::newRow("bare position") << 0 << "1234 Hz";
        QTest::newRow("two decimals") << 2 << "12.34 Hz";
    }
    void sliderValueLabel()
    {
        QFETCH(int, decimals);
        QFETCH(QString, shown);
        SettingsSlider slider;
        slider.setRange(0, 5000);
        slider.setValue(1234);
        SettingsSliderValue value;
        value.setSlider(&slider, QStringLiteral("%1 Hz"));
        if (decimals)
            value.setDecimals(decimals, 100.0f);
        QCOMPARE(value.text(), shown);
    }

    void pictureButtons()
    {
        const QPixmap picture = square(40, QColor(20, 20, 20));
        ImageGroupButton bare(picture, false);
        QVERIFY(!bare.caption());
        QCOMPARE(bare.button()->size(), QSize(40, 40));

        ImageGroupButton faded(picture, QStringLiteral("Wide"), false);
        QVERIFY(faded.caption());
        const QColor unchecked =
            faded.caption()->palette().color(QPalette::Active, QPalette::WindowText);
        QCOMPARE(unchecked.alpha(), 127);
        QVERIFY(faded.button()->pixmap().toImage().pixelColor(20, 20).alpha() < 100);
        faded.button()->setChecked(true);
        QCOMPARE(faded.caption()->palette().color(QPalette::Active, QPalette::WindowText).alpha(),
                 255);

        ImageGroupButton plain(picture, QStringLiteral("Tall"), true);
        QCOMPARE(plain.button()->pixmap().toImage().pixelColor(20, 20).alpha(), 255);
        QCOMPARE(plain.caption()->palette().color(QPalette::Active, QPalette::WindowText).alpha(),
                 255);
    }
};

QTEST_MAIN(TestSettingsWidgets)
#include "tst_settingswidgets.moc"
