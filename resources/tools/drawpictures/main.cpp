// Draws the flat pictures of the card UI and the host window, at 1x and 2x.
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

const QString kResources = QStringLiteral(RESOURCES_DIR);

QColor grey(int n, int alpha = 255)
{
    return QColor(n, n, n, alpha);
}

const QColor kOrange(254, 167, 1);
const QColor kRed(212, 31, 46);
const QColor kGreen(67, 160, 71);

using Draw = std::function<void(QPainter&)>;

void save(const QString& folder, const QString& name, QSize size, const Draw& draw)
{
    for (int scale : {1, 2}) {
        QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.scale(scale, scale);
        draw(p);
        p.end();
        const QString file =
            QStringLiteral("%1/%2%3.png").arg(folder, name, scale == 2 ? "@2x" : "");
        if (!image.save(file))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    }
}

QPen roundPen(const QColor& colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void spinnerFrame(QPainter& p, int head)
{
    const QPointF centre(12, 12);
    for (int i = 0; i < 12; ++i) {
        const int behind = (head - i + 12) % 12;
        const int alpha = qMax(40, 255 - behind * 24);
        const qreal angle = qDegreesToRadians(i * 30.0 - 90.0);
        const QPointF dir(qCos(angle), qSin(angle));
        p.setPen(roundPen(grey(71, alpha), 2.2));
        p.drawLine(centre + dir * 5.0, centre + dir * 10.0);
    }
}

void closeCircle(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(grey(146));
    p.drawEllipse(QRectF(2, 2, 20, 20));
    p.setPen(roundPen(Qt::white, 2.2));
    p.drawLine(QPointF(8.5, 8.5), QPointF(15.5, 15.5));
    p.drawLine(QPointF(15.5, 8.5), QPointF(8.5, 15.5));
}

void plusCircle(QPainter& p, const QColor& colour)
{
    p.setPen(roundPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.drawLine(QPointF(16, 10), QPointF(16, 22));
    p.drawLine(QPointF(10, 16), QPointF(22, 16));
}

void dot(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QRectF(1, 1, 8, 8));
}

void dropdown(QPainter& p)
{
    QLinearGradient g(0, 0, 0, 29);
    g.setColorAt(0, grey(241));
    g.setColorAt(1, grey(208));
    p.setPen(QPen(grey(181), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 29, 28), 4, 4);
    QPainterPath arrow;
    arrow.moveTo(20, 12.5);
    arrow.lineTo(27, 12.5);
    arrow.lineTo(23.5, 17);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(grey(71));
    p.drawPath(arrow);
}

void alertIcon(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(roundPen(Qt::white, 2));
    p.drawLine(QPointF(8, 4.5), QPointF(8, 8.8));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(8, 11.6), 1.2, 1.2);
}

void okIcon(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(roundPen(Qt::white, 1.8));
    p.drawPolyline(QPolygonF({QPointF(4.8, 8.2), QPointF(7, 10.5), QPointF(11.3, 5.6)}));
}

void galleryIcon(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            p.drawRoundedRect(QRectF(3 + c * 10, 3 + r * 10, 8, 8), 1.5, 1.5);
}

void listIcon(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (int r = 0; r < 3; ++r) {
        p.drawRoundedRect(QRectF(3, 4 + r * 6.5, 3, 3), 1, 1);
        p.drawRoundedRect(QRectF(8, 4 + r * 6.5, 13, 3), 1, 1);
    }
}

void chevron(QPainter& p, bool left, const QColor& colour)
{
    p.setPen(roundPen(colour, 3));
    if (left)
        p.drawPolyline(QPolygonF({QPointF(22, 14), QPointF(10, 32), QPointF(22, 50)}));
    else
        p.drawPolyline(QPolygonF({QPointF(10, 14), QPointF(22, 32), QPointF(10, 50)}));
}

void chainLink(QPainter& p, bool linked, const QColor& colour)
{
    p.setPen(roundPen(colour, 2));
    p.setBrush(Qt::NoBrush);
    if (linked) {
        p.drawRoundedRect(QRectF(6.5, 1.5, 7, 10), 3.5, 3.5);
        p.drawRoundedRect(QRectF(6.5, 8.5, 7, 10), 3.5, 3.5);
    } else {
        p.drawRoundedRect(QRectF(6.5, 0.5, 7, 8), 3.5, 3.5);
        p.drawRoundedRect(QRectF(6.5, 11.5, 7, 8), 3.5, 3.5);
        p.drawLine(QPointF(2, 10), QPointF(4, 10));
        p.drawLine(QPointF(16, 10), QPointF(18, 10));
    }
}

void logo(QPainter& p, const QFont& font)
{
    QPainterPath mark;
    mark.addEllipse(QRectF(2, 6, 28, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawPath(mark);
    p.setBrush(grey(23));
    p.drawEllipse(QRectF(9, 13, 14, 14));
    p.setBrush(kOrange);
    p.drawEllipse(QRectF(13, 17, 6, 6));
    QFont f = font;
    f.setPixelSize(22);
    p.setFont(f);
    p.setPen(grey(241));
    p.drawText(QRectF(38, 0, 110, 40), Qt::AlignLeft | Qt::AlignVCenter, "Tendwell");
}

// A recorder seen from the front: the gallery's stand-in for a device picture.
void deviceOutline(QPainter& p, const QColor& colour)
{
    QPen pen = roundPen(colour, 3);
    pen.setDashPattern({4, 3});
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(40, 60, 240, 100), 12, 12);
    p.setPen(roundPen(colour, 3));
    p.drawRoundedRect(QRectF(62, 82, 90, 56), 6, 6);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(190 + i * 28, 110), 8, 8);
}

void noDevice(QPainter& p)
{
    deviceOutline(p, grey(94));
    QFont f("CVN Open Sans Light");
    f.setPixelSize(40);
    p.setFont(f);
    p.setPen(grey(146));
    p.drawText(QRectF(62, 82, 90, 56), Qt::AlignCenter, "?");
}

void badInstall(QPainter& p)
{
    deviceOutline(p, grey(94));
    QPainterPath triangle;
    triangle.moveTo(107, 84);
    triangle.lineTo(134, 134);
    triangle.lineTo(80, 134);
    triangle.closeSubpath();
    p.setPen(roundPen(kOrange, 4));
    p.setBrush(kOrange);
    p.drawPath(triangle);
    p.setPen(roundPen(grey(31), 4));
    p.drawLine(QPointF(107, 100), QPointF(107, 118));
    p.drawPoint(QPointF(107, 127));
}

void refresh(QPainter& p)
{
    p.setPen(roundPen(grey(94), 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 14, 14), 60 * 16, 280 * 16);
    QPainterPath head;
    head.moveTo(13.5, 1.5);
    head.lineTo(17.5, 4.9);
    head.lineTo(12.6, 6.8);
    head.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(grey(94));
    p.drawPath(head);
}

QPainterPath gearPath(QPointF centre, qreal outer, qreal inner, qreal hole, int teeth)
{
    QPainterPath path;
    const qreal step = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const qreal a = i * step;
        const QList<QPair<qreal, qreal>> corners = {{a - step * 0.30, inner},
                                                    {a - step * 0.17, outer},
                                                    {a + step * 0.17, outer},
                                                    {a + step * 0.30, inner}};
        for (const auto& c : corners) {
            const QPointF pt = centre + QPointF(qCos(c.first), qSin(c.first)) * c.second;
            if (path.elementCount() == 0)
                path.moveTo(pt);
            else
                path.lineTo(pt);
        }
    }
    path.closeSubpath();
    path.addEllipse(centre, hole, hole);
    path.setFillRule(Qt::OddEvenFill);
    return path;
}

void gear(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(gearPath(QPointF(14, 14), 12, 9, 4, 8));
}

void setupButton(QPainter& p, const QColor& edge, const QColor& text, const QFont& font)
{
    p.setPen(QPen(edge, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(1, 1, 118, 34), 17, 17);
    p.setPen(Qt::NoPen);
    p.setBrush(text);
    p.drawPath(gearPath(QPointF(30, 18), 8, 6, 2.6, 8));
    QFont f = font;
    f.setPixelSize(15);
    p.setFont(f);
    p.setPen(text);
    p.drawText(QRectF(44, 0, 70, 36), Qt::AlignLeft | Qt::AlignVCenter, "Setup");
}

void tick(QPainter& p)
{
    p.setPen(roundPen(grey(71), 1.8));
    p.drawPolyline(QPolygonF({QPointF(2, 6.5), QPointF(5, 9.5), QPointF(10, 3)}));
}

// The settings check box: a rounded square, ticked when on.
void checkBox(QPainter& p, const QColor& edge, const QColor& fill, const QColor& mark, bool on)
{
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(1.5, 1.5, 15, 15), 3, 3);
    if (on) {
        p.setPen(roundPen(mark, 2));
        p.drawPolyline(QPolygonF({QPointF(5, 9.2), QPointF(7.8, 12), QPointF(13, 5.8)}));
    }
}

// The settings radio button (also the slider handle): a ring, with a dot when chosen.
void radio(QPainter& p, const QColor& edge, const QColor& fill, const QColor& dot, bool on)
{
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawEllipse(QRectF(1.5, 1.5, 15, 15));
    if (on) {
        p.setPen(Qt::NoPen);
        p.setBrush(dot);
        p.drawEllipse(QPointF(9, 9), 3.6, 3.6);
    }
}

void dropdownArrow(QPainter& p, const QColor& colour)
{
    QPainterPath arrow;
    arrow.moveTo(0.5, 1);
    arrow.lineTo(8.5, 1);
    arrow.lineTo(4.5, 5.5);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(arrow);
}

void appIcon(QPainter& p)
{
    QLinearGradient g(0, 0, 0, 128);
    g.setColorAt(0, grey(72));
    g.setColorAt(1, grey(23));
    p.setPen(QPen(grey(62), 2));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(6, 6, 116, 116), 26, 26);
    p.setPen(Qt::NoPen);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(64, 64), 38, 38);
    p.setBrush(grey(23));
    p.drawEllipse(QPointF(64, 64), 24, 24);
    p.setBrush(kOrange);
    p.drawEllipse(QPointF(64, 64), 9, 9);
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QString fonts = kResources + "/fonts/";
    for (const char* f : {"OpenSans-Light.ttf", "OpenSans-Regular.ttf", "OpenSans-Semibold.ttf"})
        QFontDatabase::addApplicationFont(fonts + f);
    QFont semibold("CVN Open Sans Semibold");
    semibold.setWeight(QFont::DemiBold);
    QFont regular("CVN Open Sans");

    const QString out = kResources + "/images";
    QDir().mkpath(out);

    for (int n = 1; n <= 12; ++n)
        save(out, QStringLiteral("Busy_Frame_%1").arg(n), {24, 24},
             [n](QPainter& p) { spinnerFrame(p, n - 1); });
    save(out, "Busy_Close", {24, 24}, closeCircle);
    save(out, "Cross", {32, 32}, [](QPainter& p) { plusCircle(p, grey(146)); });
    save(out, "Cross_Hover", {32, 32}, [](QPainter& p) { plusCircle(p, grey(241)); });
    save(out, "Dot_Off", {10, 10}, [](QPainter& p) { dot(p, grey(71)); });
    save(out, "Dot_On", {10, 10}, [](QPainter& p) { dot(p, grey(208)); });
    save(out, "Dropdown", {30, 29}, dropdown);
    save(out, "Field_Icon_Alert", {16, 16}, alertIcon);
    save(out, "Field_Icon_OK", {16, 16}, okIcon);
    save(out, "Gallery", {24, 24}, [](QPainter& p) { galleryIcon(p, grey(119)); });
    save(out, "GalleryHover", {24, 24}, [](QPainter& p) { galleryIcon(p, grey(241)); });
    save(out, "List", {24, 24}, [](QPainter& p) { listIcon(p, grey(119)); });
    save(out, "ListHover", {24, 24}, [](QPainter& p) { listIcon(p, grey(241)); });
    save(out, "LeftArrow", {32, 64}, [](QPainter& p) { chevron(p, true, grey(94)); });
    save(out, "LeftArrow_Hover", {32, 64}, [](QPainter& p) { chevron(p, true, grey(208)); });
    save(out, "RightArrow", {32, 64}, [](QPainter& p) { chevron(p, false, grey(94)); });
    save(out, "RightArrow_Hover", {32, 64}, [](QPainter& p) { chevron(p, false, grey(208)); });
    save(out, "Link", {20, 20}, [](QPainter& p) { chainLink(p, true, grey(94)); });
    save(out, "Link_Disabled", {20, 20}, [](QPainter& p) { chainLink(p, true, grey(208)); });
    save(out, "Unlink", {20, 20}, [](QPainter& p) { chainLink(p, false, grey(94)); });
    save(out, "Unlink_Disabled", {20, 20}, [](QPainter& p) { chainLink(p, false, grey(208)); });
    save(out, "Logo", {150, 40}, [&](QPainter& p) { logo(p, semibold); });
    save(out, "NoDevice", {320, 220}, noDevice);
    save(out, "BadInstall", {320, 220}, badInstall);
    save(out, "Refresh", {20, 20}, refresh);
    save(out, "Settings", {28, 28}, [](QPainter& p) { gear(p, grey(94)); });
    save(out, "Settings_Push", {28, 28}, [](QPainter& p) { gear(p, grey(45)); });
    save(out, "Settings_Disabled", {28, 28}, [](QPainter& p) { gear(p, grey(181)); });
    save(out, "Setup", {120, 36},
         [&](QPainter& p) { setupButton(p, grey(119), grey(208), regular); });
    save(out, "Setup_Hover", {120, 36},
         [&](QPainter& p) { setupButton(p, grey(241), grey(241), regular); });
    save(out, "Tick", {12, 12}, tick);
    const QColor white(Qt::white);
    save(out, "Checkbox", {18, 18},
         [&](QPainter& p) { checkBox(p, grey(181), white, white, false); });
    save(out, "Checkbox_Hover", {18, 18},
         [&](QPainter& p) { checkBox(p, grey(94), white, white, false); });
    save(out, "Checkbox_Disabled", {18, 18},
         [&](QPainter& p) { checkBox(p, grey(181, 100), grey(241, 100), white, false); });
    save(out, "Checkbox_Active", {18, 18},
         [&](QPainter& p) { checkBox(p, grey(94), grey(94), white, true); });
    save(out, "Checkbox_Active_Disabled", {18, 18},
         [&](QPainter& p) { checkBox(p, grey(208), grey(208), white, true); });
    save(out, "Radio", {18, 18}, [&](QPainter& p) { radio(p, grey(181), white, white, false); });
    save(out, "Radio_Hover", {18, 18},
         [&](QPainter& p) { radio(p, grey(94), white, white, false); });
    save(out, "Radio_Disabled", {18, 18},
         [&](QPainter& p) { radio(p, grey(181, 100), grey(241), white, false); });
    save(out, "Radio_Active", {18, 18},
         [&](QPainter& p) { radio(p, grey(94), white, grey(94), true); });
    save(out, "Radio_Active_Disabled", {18, 18},
         [&](QPainter& p) { radio(p, grey(208), white, grey(208), true); });
    save(out, "Dropdown_Arrow", {9, 7}, [](QPainter& p) { dropdownArrow(p, grey(71)); });
    save(out, "Dropdown_Arrow_Disabled", {9, 7},
         [](QPainter& p) { dropdownArrow(p, grey(71, 100)); });
    // The host's own icon lives beside settings.ini, not among the compiled-in pictures.
    save(kResources, "AboutIcon", {128, 128}, appIcon);
    return 0;
}
