#include "framework/style.h"

#include "framework/accentcolour.h"
#include "framework/frameworkresources.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace {

struct FontStyle
{
    int style;
    const char* family;
    int size;
    int weight;
};

constexpr FontStyle kFontStyles[] = {
    {0, "CVN Open Sans Light", 30, 300},     {1, "CVN Open Sans", 15, 400},
    {2, "CVN Open Sans Semibold", 15, 600},  {3, "CVN Open Sans", 13, 400},
    {4, "CVN Open Sans Semibold", 13, 600},  {5, "CVN Open Sans", 11, 400},
    {6, "CVN Open Sans Semibold", 11, 600},  {7, "CVN Open Sans", 12, 400},
    {8, "CVN Open Sans Semibold", 12, 600},  {11, "CVN Open Sans Light", 21, 300},
    {12, "CVN Open Sans Semibold", 18, 600}, {13, "CVN Open Sans Semibold", 26, 600},
};

QFont makeFont(const char* family, int size, int weight)
{
    QFont font(QString::fromLatin1(family), size, weight, false);
    return font;
}

double power10(int decimals)
{
    return std::pow(10.0, decimals);
}

// Pictures decoded ahead by decodePictures, by path; GUI thread only.
QHash<QString, QImage>& decodedPictures()
{
    static QHash<QString, QImage> pictures;
    return pictures;
}

QPixmap basePixmap(const QString& path)
{
    const auto decoded = decodedPictures().constFind(path);
    return decoded == decodedPictures().cend() ? QPixmap(path) : QPixmap::fromImage(*decoded);
}

} // namespace

QFont fontForStyle(int style)
{
    for (const FontStyle& s : kFontStyles) {
        if (s.style == style)
            return makeFont(s.family, s.size, s.weight);
    }
    return makeFont("Times", 24, 700);
}

QFont scaledFont(int style)
{
    QFont font = fontForStyle(style);
    qreal dpi = 96.0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        dpi = screen->logicalDotsPerInch();
    if (dpi > 0)
        font.setPointSizeF(font.pointSize() * 72 / dpi);
    return font;
}

QLabel* makeLabel(int style, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(parent);
    setTextColours(label, colour);
    label->setFont(scaledFont(style));
    return label;
}

void setTextColours(QWidget* widget, const QColor& colour, const QColor& disabled)
{
    QPalette palette = widget->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, colour);
    palette.setBrush(QPalette::Disabled, QPalette::WindowText, disabled);
    widget->setPalette(palette);
}

void setTextColours(QWidget* widget, const QColor& colour)
{
    QColor faded = colour;
    faded.setAlpha(100);
    setTextColours(widget, colour, faded);
}

QString colorToHexString(const QColor& colour)
{
    return QStringLiteral("#%1%2%3")
        .arg(colour.red(), 2, 16, QLatin1Char('0'))
        .arg(colour.green(), 2, 16, QLatin1Char('0'))
        .arg(colour.blue(), 2, 16, QLatin1Char('0'));
}

QString colorToRgbaString(const QColor& colour, int alpha)
{
    return QStringLiteral("rgba(%1, %2, %3, %4)")
        .arg(colour.red())
        .arg(colour.green())
        .arg(colour.blue())
        .arg(alpha);
}

QString elidedText(QWidget* widget, const QString& text, Qt::TextElideMode mode)
{
    return widget->fontMetrics().elidedText(text, mode, widget->width());
}

QPixmap fadedPixmap(const QPixmap& source, int mode)
{
    static constexpr qreal kOpacity[] = {0.3, 1.0, 0.75, 0.4};
    QPixmap faded(source.size());
    faded.setDevicePixelRatio(source.devicePixelRatio());
    faded.fill(Qt::transparent);
    if (source.isNull())
        return faded;
    QPainter painter(&faded);
    painter.setOpacity(mode >= 0 && mode < 4 ? kOpacity[mode] : 0.0);
    painter.drawPixmap(0, 0, source);
    return faded;
}

int toFixed(double value, int decimals)
{
    return int(std::round(value * power10(decimals)));
}

double fromFixed(int value, int decimals)
{
    return value / power10(decimals);
}

QPixmap loadHiDpiPixmap(const QString& path)
{
    initFrameworkResources();
    QIcon icon;
    if (QFileInfo(path).suffix().isEmpty()) {
        // For a name without suffix QIcon::addFile asks the MIME database what the file is, and
        // its first use costs the program's start several milliseconds. Ours are bitmaps: read
        // them as such, with the variant QIcon would pick for the screen ("name@2x").
        const QPixmap base = basePixmap(path);
        if (base.isNull())
            return {};
        icon.addPixmap(base);
        const qreal ratio = qGuiApp->devicePixelRatio();
        for (int n = std::min(int(std::ceil(ratio)), 9); n > 1; --n) {
            const QString variant = path + QStringLiteral("@%1x").arg(n);
            if (QFile::exists(variant)) {
                icon.addFile(variant);
                break;
            }
        }
    } else {
        icon.addFile(path);
    }
    const QList<QSize> sizes = icon.availableSizes(QIcon::Normal, QIcon::Off);
    if (sizes.isEmpty())
        return {};
    return icon.pixmap(sizes.first());
}

QHash<QString, QImage> decodePictures(const QStringList& paths)
{
    initFrameworkResources();
    QHash<QString, QImage> pictures;
    for (const QString& path : paths) {
        QImage image = QImageReader(path).read();
        if (image.isNull())
            continue;
        // The form a pixmap of the screen keeps, so that making the pixmap converts nothing.
        pictures.insert(path, image.convertToFormat(image.hasAlphaChannel()
                                                        ? QImage::Format_ARGB32_Premultiplied
                                                        : QImage::Format_RGB32));
    }
    return pictures;
}

void useDecodedPictures(const QHash<QString, QImage>& pictures)
{
    decodedPictures().insert(pictures);
}

QString gradientButtonStyleSheet()
{
    const QString gradient = QStringLiteral(
        "QPushButton {\tbackground-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, "
        "stop:1 %2);\tborder: 1px solid %3; border-radius: 4px;\tcolor: %4;}");
    const QString disabled = QStringLiteral(
        "QPushButton:disabled {\tbackground-color: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
        "stop:0 %1, stop:1 %2);\tborder: 1px solid %3; border-radius: 4px;\tcolor: %4;}");
    return gradient.arg("#f1f1f1", "#d0d0d0", "#b5b5b5", "#474747") +
           QStringLiteral("QPushButton:pressed {\tbackground-color: %1;}").arg("#d0d0d0") +
           QStringLiteral("QPushButton:toggled {\tbackground-color: qlineargradient(x1:0, "
                          "y1:0, x2:0, y2:1, stop:0 white, stop:1 %1);}")
               .arg("#f1f1f1") +
           disabled.arg("rgba(241, 241, 241, 100)", "rgba(208, 208, 208, 100)",
                        "rgba(181, 181, 181, 100)", "rgba(71, 71, 71, 100)") +
           QStringLiteral("QPushButton:default {\tborder: 1px solid %1;}")
               .arg(colorToRgbaString(accentColour(), 180));
}
