// Linked sliders, the pop-up base and the firmware version row.
#include "framework/cardfooter.h"
#include "framework/cardpushbutton.h"
#include "framework/firmwareupdaterow.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/popupwidget.h"
#include "framework/settingspage.h"
#include "framework/settingsslider.h"
#include "framework/settingssliderlabel.h"
#include "framework/settingssliderwitheditablevalue.h"
#include "framework/settingstab.h"
#include "framework/sliderlink.h"

#include <QLabel>
#include <QScreen>
#include <QtTest>

namespace {

// Two sliders and a link between them, linked at the given values.
struct LinkedPair
{
    LinkedPair(int mode, double maxA, double startA, double maxB, double startB)
    {
        for (auto* slider : {&a, &b})
            slider->setDecimals(2);
        a.setMaximum(maxA);
        b.setMaximum(maxB);
        a.setValue(startA);
        b.setValue(startB);
        link = new SliderLink(&a, &b, mode, &parent);
        link->linkButton()->click();
    }
    QWidget parent;
    SettingsSliderWithEditableValue a;
    SettingsSliderWithEditableValue b;
    SliderLink* link;
};

// A page whose Cancel puts back stored values: A 10, then B 70.
class RevertingPage : public SettingsPage
{
public:
    void revertSettings() override
    {
        a->setValue(10);
        b->setValue(70);
    }
    SettingsSliderWithEditableValue* a = nullptr;
    SettingsSliderWithEditableValue* b = nullptr;
};

} // namespace

class TestSliderLink : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { initFrameworkResources(); }

    void coupling_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("maxA");
        QTest::addColumn<double>("startA");
        QTest::addColumn<double>("maxB");
        QTest::addColumn<double>("startB");
        QTest::addColumn<double>("moveA");
        QTest::addColumn<double>("endA");
        QTest::addColumn<double>("endB");

        QTest::newRow("same value") << 0 << 100.0 << 10.0 << 100.0 << 95.0 << 40.0 << 40.0 << 40.0;
        QTest::newRow("offset") << 1 << 100.0 << 10.0 << 100.0 << 50.0 << 20.0 << 20.0 << 60.0;
        // B stops at its top after 5 of the 10, and A is pulled back to move 5 as well.
        QTest::newRow("offset at bound")
            << 1 << 100.0 << 10.0 << 100.0 << 95.0 << 20.0 << 15.0 << 100.0;
        QTest::newRow("scaled") << 2 << 100.0 << 50.0 << 10.0 << 5.0 << 60.0 << 60.0 << 6.0;
        QTest::newRow("scaled down") << 2 << 100.0 << 50.0 << 10.0 << 5.0 << 0.0 << 0.0 << 0.0;
        // B started at 8 of 10: A can only go 20 further before B is full.
        QTest::newRow("scaled clamps source")
            << 2 << 100.0 << 50.0 << 10.0 << 8.0 << 90.0 << 70.0 << 10.0;
        // A slider without a range has no share to keep: nothing couples.
        QTest::newRow("scaled, empty range")
            << 2 << 100.0 << 50.0 << 0.0 << 0.0 << 60.0 << 60.0 << 0.0;
    }
    void coupling()
    {
        QFETCH(int, mode);
        QFETCH(double, maxA);
        QFETCH(double, startA);
        QFETCH(double, maxB);
        QFETCH(double, startB);
        QFETCH(double, moveA);
        QFETCH(double, endA);
        QFETCH(double, endB);

        LinkedPair pair(mode, maxA, startA, maxB, startB);
        QVERIFY(pair.link->isLinked());
        QSignalSpy bChanged(&pair.b, qOverload<>(&SettingsSliderWithEditableValue::valueChanged));
        QSignalSpy bValue(&pair.b,
                          qOverload<double>(&SettingsSliderWithEditableValue::valueChanged));

        pair.a.slider()->setValue(toFixedPosition(moveA));

        QCOMPARE(pair.a.value(), endA);
        QCOMPARE(pair.b.value(), endB);
        QCOMPARE(pair.b.slider()->value(), toFixedPosition(endB));
        // The tab still hears of the change; B's own coupling signal stays quiet.
        QCOMPARE(bChanged.count(), mode == 2 && maxB == 0.0 ? 0 : 1);
        QCOMPARE(bValue.count(), 0);
    }

    void unlinkedSlidersMoveAlone()
    {
        LinkedPair pair(0, 100, 10, 100, 20);
        pair.link->linkButton()->click();
        QVERIFY(!pair.link->isLinked());
        pair.a.setValue(70);
        QCOMPARE(pair.b.value(), 20.0);
    }

    void sliderMayGoBeforeTheLink()
    {
        QWidget parent;
        auto* a = new SettingsSliderWithEditableValue(&parent);
        auto* b = new SettingsSliderWithEditableValue(&parent);
        auto* link = new SliderLink(a, b, SliderLink::Same, &parent);
        link->linkButton()->click();
        parent.show();
        delete a;
        QVERIFY(!link->sliderA());
        b->setValue(30);
        parent.resize(500, 300);
        QCoreApplication::sendPostedEvents();
        link->linkButton()->click();
        link->linkButton()->click();
        QCOMPARE(b->value(), 30.0);
    }

    void linkingCapturesStartValues()
    {
        LinkedPair pair(2, 100, 50, 10, 5);
        pair.link->linkButton()->click(); // off
        pair.a.setValue(20);
        pair.b.setValue(2);
        pair.link->linkButton()->click(); // on again, from 20 and 2
        pair.b.slider()->setValue(400);
        QCOMPARE(pair.b.value(), 4.0);
        QCOMPARE(pair.a.value(), 40.0);
    }

    void cancelPutsBackBothLinkedValues_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<double>("endB");
        QTest::newRow("same value") << 0 << 20.0;
        QTest::newRow("offset") << 1 << 80.0;
        QTest::newRow("scaled") << 2 << 80.0;
    }
    void cancelPutsBackBothLinkedValues()
    {
        QFETCH(int, mode);
        QFETCH(double, endB);
        RevertingPage page;
        auto* tab = new SettingsTab(&page);
        page.addTab(tab, QStringLiteral("Audio"));
        page.a = tab->addSliderWithEditableValue(QStringLiteral("Left:"), 0, 100, 0);
        page.b = tab->addSliderWithEditableValue(QStringLiteral("Right:"), 0, 100, 0);
        page.a->setValue(40);
        page.b->setValue(40);
        SliderLink* link = tab->addSliderLink(page.a, page.b, mode);
        link->linkButton()->click();

        page.footer()->cancelButton()->click();
        QCOMPARE(page.a->value(), 10.0);
        QCOMPARE(page.b->value(), 70.0);
        // Still linked, now from the values put back.
        QVERIFY(link->isLinked());
        QVERIFY(!link->isCouplingBlocked());
        page.a->setValue(20);
        QCOMPARE(page.b->value(), endB);
    }

    void bracketStaysInsideBesideADefaultButton()
    {
        QWidget window;
        window.resize(620, 300);
        auto* tab = new SettingsTab(&window);
        tab->resize(620, 300);
        auto* a = tab->addSliderWithEditableValue(QStringLiteral("Delay:"), 0, 500, 0,
                                                  QStringLiteral("ms"), true, 40);
        auto* b = tab->addSliderWithEditableValue(QStringLiteral("Offset:"), 0, 500, 0,
                                                  QStringLiteral("ms"));
        SliderLink* link = tab->addSliderLink(a, b, SliderLink::Same);
        tab->finishRows();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::sendPostedEvents();

        QWidget* content = tab->content();
        const QRect bracket = link->geometry();
        QVERIFY2(content->rect().contains(bracket),
                 qPrintable(QStringLiteral("bracket at x %1 in content %2 wide")
                                .arg(bracket.x())
                                .arg(content->width())));
        const QRect button(a->defaultButton()->mapTo(content, QPoint()),
                           a->defaultButton()->size());
        QVERIFY(!bracket.intersects(button));
        QVERIFY(bracket.left() >=
                a->unitLabel()->mapTo(content, QPoint()).x() + a->unitLabel()->width());
        // Nothing covers the link button: a click lands on it.
        const QPoint centre =
            link->linkButton()->mapTo(content, link->linkButton()->rect().center());
        QCOMPARE(content->childAt(centre), link->linkButton());
        QCOMPARE(content->childAt(button.center()), a->defaultButton());
    }

    void popupStaysOnScreen()
    {
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        PopupWidget popup;
        popup.setFixedSize(200, 100);
        QSignalSpy hidden(&popup, &PopupWidget::aboutToHide);

        popup.popup(QPoint(screen.right() - 50, 200));
        QCOMPARE(popup.geometry().right(), screen.right());
        QCOMPARE(popup.y(), 180);

        popup.popup(QPoint(screen.left() + 5, 100));
        QCOMPARE(popup.x(), screen.left());

        QEvent deactivate(QEvent::WindowDeactivate);
        QCoreApplication::sendEvent(&popup, &deactivate);
        QCOMPARE(hidden.count(), 1);
        QVERIFY(!popup.isVisible());
    }

    void firmwareRow_data()
    {
        QTest::addColumn<bool>("updateAvailable");
        QTest::addColumn<bool>("incompatible");
        QTest::addColumn<bool>("hasButton");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("text");

        QTest::newRow("current") << false << false << false << 31 << "Software Version:";
        QTest::newRow("update") << true << false << true << 62 << "2.0 is available for update";
        QTest::newRow("incompatible")
            << true << true << false << 62 << "This software is not compatible with your device.";
    }
    void firmwareRow()
    {
        QFETCH(bool, updateAvailable);
        QFETCH(bool, incompatible);
        QFETCH(bool, hasButton);
        QFETCH(int, height);
        QFETCH(QString, text);

        FirmwareUpdateRow row(QString(), QStringLiteral("2.0"), updateAvailable, incompatible);
        QCOMPARE(row.height(), height);
        QCOMPARE(row.updateButton() != nullptr, hasButton);
        QStringList texts;
        for (const QLabel* label : row.findChildren<QLabel*>())
            texts.append(label->text());
        QVERIFY2(texts.contains(text), qPrintable(texts.join(QLatin1Char('|'))));
        QVERIFY(texts.contains(QStringLiteral("Unknown")));
        if (hasButton) {
            QSignalSpy update(&row, &FirmwareUpdateRow::updateFirmware);
            row.updateButton()->click();
            QCOMPARE(update.count(), 1);
        }
    }

private:
    static int toFixedPosition(double value) { return int(value * 100 + 0.5); }
};

QTEST_MAIN(TestSliderLink)
#include "tst_sliderlink.moc"
