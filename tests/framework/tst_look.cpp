#include "framework/accentcolour.h"
#include "framework/busybutton.h"
#include "framework/cardpushbutton.h"
#include "framework/flatimagebutton.h"
#include "framework/frameworkresources.h"
#include "framework/secretbutton.h"
#include "framework/style.h"
#include "framework/testmodepixmap.h"

#include <QFontInfo>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <thread>

namespace {

QPixmap solid(const QColor& colour, QSize size = QSize(20, 10))
{
    QPixmap pixmap(size);
    pixmap.fill(colour);
    return pixmap;
}

QColor centreOf(QWidget* widget)
{
    return widget->grab().toImage().pixelColor(widget->width() / 2, widget->height() / 2);
}

bool hasRedPixel(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0 && c.red() > 128 && c.green() < 100 && c.blue() < 100)
                return true;
        }
    return false;
}

} // namespace

class TestLook : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { QVERIFY(registerApplicationFonts()); }

    void namedPicturesLoad_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("decodedAhead");
        const char* names[] = {"BadInstall",      "Busy_Close",
                               "Cross",           "Cross_Hover",
                               "Dot_Off",         "Dot_On",
                               "Dropdown",        "Field_Icon_Alert",
                               "Field_Icon_OK",   "Gallery",
                               "GalleryHover",    "LeftArrow",
                               "LeftArrow_Hover", "Link",
                               "Link_Disabled",   "List",
                               "ListHover",       "Logo",
                               "NoDevice",        "Refresh",
                               "RightArrow",      "RightArrow_Hover",
                               "Settings",        "Settings_Disabled",
                               "Settings_Push",   "Setup",
                               "Setup_Hover",     "Tick",
                               "Unlink",          "Unlink_Disabled"};
        QStringList paths;
        for (const char* name : names)
            paths.append(QStringLiteral(":/%1").arg(QLatin1String(name)));
        for (int frame = 1; frame <= 12; ++frame)
            paths.append(QStringLiteral(":/Busy_Frame_%1").arg(frame));
        // Read from the files first, then again once decoded on another thread.
        for (const bool decodedAhead : {false, true})
            for (const QString& path : std::as_const(paths))
                QTest::newRow(qPrintable(path.mid(2) + (decodedAhead ? " decoded ahead" : "")))
                    << path << decodedAhead;
    }

    void namedPicturesLoad()
    {
        QFETCH(QString, path);
        QFETCH(bool, decodedAhead);
        if (decodedAhead) {
            QHash<QString, QImage> decoded;
            std::thread([&decoded, path] { decoded = decodePictures({path}); }).join();
            QCOMPARE(decoded.keys(), QStringList{path});
            useDecodedPictures(decoded);
        }
        const QPixmap pixmap = loadHiDpiPixmap(path);
        QVERIFY(!pixmap.isNull());
        // The double-resolution variant is there for high-density screens.
        QVERIFY(!QPixmap(path + "@2x").isNull());
        QCOMPARE(QPixmap(path + "@2x").size(), QPixmap(path).size() * 2);

        // The screen's density picks the picture (framework_look_hidpi runs at ratio 2).
        const qreal ratio = qGuiApp->devicePixelRatio();
        QCOMPARE(pixmap.devicePixelRatio(), ratio);
        QCOMPARE(pixmap.deviceIndependentSize(), QSizeF(QPixmap(path).size()));
        const QImage expected(ratio > 1 ? path + "@2x" : path);
        QCOMPARE(pixmap.toImage().convertToFormat(QImage::Format_ARGB32),
                 expected.convertToFormat(QImage::Format_ARGB32));
    }

    void unknownPictureIsNull()
    {
        QVERIFY(loadHiDpiPixmap(":/NoSuchPicture").isNull());
        QVERIFY(decodePictures({":/NoSuchPicture"}).isEmpty());
    }

    void fontStylesResolve_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("weight");
        QTest::newRow("0") << 0 << "CVN Open Sans Light" << 30 << 300;
        QTest::newRow("1") << 1 << "CVN Open Sans" << 15 << 400;
        QTest::newRow("2") << 2 << "CVN Open Sans Semibold" << 15 << 600;
        QTest::newRow("3") << 3 << "CVN Open Sans" << 13 << 400;
        QTest::newRow("4") << 4 << "CVN Open Sans Semibold" << 13 << 600;
        QTest::newRow("5") << 5 << "CVN Open Sans" << 11 << 400;
        QTest::newRow("6") << 6 << "CVN Open Sans Semibold" << 11 << 600;
        QTest::newRow("7") << 7 << "CVN Open Sans" << 12 << 400;
        QTest::newRow("8") << 8 << "CVN Open Sans Semibold" << 12 << 600;
        QTest::newRow("11") << 11 << "CVN Open Sans Light" << 21 << 300;
        QTest::newRow("12") << 12 << "CVN Open Sans Semibold" << 18 << 600;
        QTest::newRow("13") << 13 << "CVN Open Sans Semibold" << 26 << 600;
    }

    void fontStylesResolve()
    {
        QFETCH(int, style);
        QFETCH(QString, family);
        QFETCH(int, size);
        QFETCH(int, weight);
        const QFont font = fontForStyle(style);
        QCOMPARE(font.family(), family);
        QCOMPARE(font.pointSize(), size);
        QCOMPARE(font.weight(), weight);
        QVERIFY(!font.italic());
        // The registered files really provide the family, not a look-alike fallback.
        const QFontInfo info(scaledFont(style));
        QCOMPARE(info.family(), family);
        QVERIFY(qAbs(int(info.weight()) - weight) <= 100);
    }

    void otherStylesAreTimes()
    {
        for (int style : {9, 10, 14, -1}) {
            const QFont font = fontForStyle(style);
            QCOMPARE(font.family(), QStringLiteral("Times"));
            QCOMPARE(font.pointSize(), 24);
            QCOMPARE(font.weight(), int(QFont::Bold));
        }
    }

    void scaledFontShowsDesignedPixels()
    {
        const qreal dpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
        QCOMPARE(scaledFont(1).pointSizeF(), 15 * 72 / dpi);
    }

    void colourTexts()
    {
        QCOMPARE(colorToHexString(QColor(1, 171, 255)), QStringLiteral("#01abff"));
        QCOMPARE(colorToHexString(QColor(241, 241, 241, 7)), QStringLiteral("#f1f1f1"));
        QCOMPARE(colorToRgbaString(QColor(23, 23, 23), 150),
                 QStringLiteral("rgba(23, 23, 23, 150)"));
    }

    void fixedPoint_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<int>("fixed");
        QTest::newRow("half up") << 1.25 << 1 << 13;
        QTest::newRow("half away from zero") << -1.25 << 1 << -13;
        QTest::newRow("none") << 7.4 << 0 << 7;
        QTest::newRow("two") << 0.07 << 2 << 7;
    }

    void fixedPoint()
    {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(int, fixed);
        QCOMPARE(toFixed(value, decimals), fixed);
        QCOMPARE(fromFixed(fixed, decimals), double(fixed) / std::pow(10, decimals));
    }

    void labelsFadeWhenDisabled()
    {
        QWidget parent;
        QLabel* label = makeLabel(3, QColor(71, 71, 71), &parent);
        QCOMPARE(label->parent(), &parent);
        QCOMPARE(label->palette().color(QPalette::Active, QPalette::WindowText),
                 QColor(71, 71, 71));
        QCOMPARE(label->palette().color(QPalette::Disabled, QPalette::WindowText),
                 QColor(71, 71, 71, 100));
        QCOMPARE(label->font().family(), QStringLiteral("CVN Open Sans"));
    }

    void fadedPixmapOpacity_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("alpha");
        QTest::newRow("0") << 0 << 77;
        QTest::newRow("1") << 1 << 255;
        QTest::newRow("2") << 2 << 191;
        QTest::newRow("3") << 3 << 102;
        QTest::newRow("other") << 7 << 0;
    }

    void fadedPixmapOpacity()
    {
        QFETCH(int, mode);
        QFETCH(int, alpha);
        QPixmap source = solid(Qt::black, QSize(8, 8));
        source.setDevicePixelRatio(2);
        const QPixmap faded = fadedPixmap(source, mode);
        QCOMPARE(faded.size(), source.size());
        QCOMPARE(faded.devicePixelRatio(), 2.0);
        QVERIFY(qAbs(faded.toImage().pixelColor(4, 4).alpha() - alpha) <= 2);
    }

    void testModeOnNothing()
    {
        const TestModePixmap picture(QPixmap(), 400, 360, 0);
        QCOMPARE(picture.size(), QSize(400, 360));
        const QImage image = picture.toImage();
        QCOMPARE(image.pixelColor(399, 0).alpha(), 0);
        QCOMPARE(image.pixelColor(0, 359).alpha(), 0);
        QVERIFY(hasRedPixel(image));
    }

    void testModeKeepsTheSource()
    {
        const TestModePixmap picture(solid(Qt::white, QSize(300, 200)), 300, 200, 10);
        QCOMPARE(picture.size(), QSize(300, 200));
        QCOMPARE(picture.toImage().pixelColor(299, 0), QColor(Qt::white));
        QVERIFY(hasRedPixel(picture.toImage()));
    }

    // No size fits a box this small: the text stays at the smallest size instead of vanishing.
    void testModeInATinyBox()
    {
        const TestModePixmap picture(QPixmap(), 3, 2, 0);
        QCOMPARE(picture.size(), QSize(3, 2));
        const TestModePixmap nothing(QPixmap(), 0, 0, 0);
        QVERIFY(nothing.isNull());
    }

    void flatButtonStates()
    {
        FlatImageButton button(solid(Qt::blue));
        QCOMPARE(button.size(), QSize(20, 10));
        QCOMPARE(centreOf(&button), QColor(Qt::blue));
        button.setEnabled(false);
        QCOMPARE(centreOf(&button), QColor(Qt::blue));
        button.setDisabledPixmap(solid(Qt::gray));
        QCOMPARE(centreOf(&button), QColor(Qt::gray));
        button.setEnabled(true);
        button.setCheckable(true);
        button.setCheckedPixmap(solid(Qt::green));
        QCOMPARE(centreOf(&button), QColor(Qt::blue));
        button.setChecked(true);
        QCOMPARE(centreOf(&button), QColor(Qt::green));
        button.setDown(true);
        QCOMPARE(centreOf(&button), QColor(Qt::green));
    }

    void flatButtonWithoutPictureDrawsNothing()
    {
        FlatImageButton button{QPixmap()};
        button.setFixedSize(10, 10);
        QPixmap canvas(10, 10);
        canvas.fill(Qt::transparent);
        button.render(&canvas, QPoint(), QRegion(), QWidget::RenderFlags());
        QCOMPARE(canvas.toImage().pixelColor(5, 5).alpha(), 0);
    }

    void flatButtonSizeFollowsDevicePixels()
    {
        QPixmap big = solid(Qt::red, QSize(41, 21));
        big.setDevicePixelRatio(2);
        FlatImageButton button(big);
        QCOMPARE(button.size(), QSize(21, 11));
        FlatImageButton fromResource(QStringLiteral(":/Settings"));
        QCOMPARE(fromResource.size(), QSize(28, 28));
    }

    void secretButton()
    {
        SecretButton button;
        button.resize(20, 20);
        QSignalSpy spy(&button, &SecretButton::secretClick);
        QTest::mouseDClick(&button, Qt::LeftButton);
        QCOMPARE(spy.count(), 0);
        QTest::mouseDClick(&button, Qt::LeftButton, Qt::AltModifier);
        QCOMPARE(spy.count(), 1);
    }

    void busyButtonAnimatesOnlyWhenShown()
    {
        QWidget window;
        auto* button = new BusyButton(&window);
        button->hide();
        window.show();
        button->setBusy(true);
        QVERIFY(!button->isAnimating());
        button->show();
        QVERIFY(button->isAnimating());
        button->hide();
        QVERIFY(!button->isAnimating());
        button->show();
        QVERIFY(button->isAnimating());
        button->setBusy(false);
        QVERIFY(!button->isAnimating());
    }

    void busyFramesCycle()
    {
        BusyButton button;
        const QImage first = button.pixmap().toImage();
        for (int tick = 1; tick <= 11; ++tick)
            button.updatePixmap();
        QCOMPARE(button.frame(), 11);
        button.updatePixmap();
        QCOMPARE(button.frame(), 0);
        QVERIFY(!button.pixmap().isNull());
        button.updatePixmap();
        QCOMPARE(button.pixmap().toImage(), first);
    }

    void cardPushButtonLook()
    {
        setModuleAccentColour(QColor(1, 171, 255));
        CardPushButton button(QStringLiteral("Save"), QSize(114, 28));
        QCOMPARE(button.size(), QSize(114, 28));
        QCOMPARE(button.font().family(), QStringLiteral("CVN Open Sans"));
        QVERIFY(button.styleSheet().endsWith(
            QStringLiteral("QPushButton:default {\tborder: 1px solid rgba(1, 171, 255, 180);}")));
        QVERIFY(button.styleSheet().startsWith(QStringLiteral(
            "QPushButton {\tbackground-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 "
            "#f1f1f1, stop:1 #d0d0d0);\tborder: 1px solid #b5b5b5; border-radius: 4px;\tcolor: "
            "#474747;}")));
        setModuleAccentColour(QColor(100, 100, 100));
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
