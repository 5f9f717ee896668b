#pragma once

#include <QColor>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QLabel;
class QWidget;

// The card UI's numbered font styles (fonts before screen scaling).
QFont fontForStyle(int style);
// The style's font sized so that its point size shows as that many pixels on the primary screen.
QFont scaledFont(int style);
// An empty label in `parent` with the style's scaled font and `colour` (faded when disabled).
QLabel* makeLabel(int style, const QColor& colour, QWidget* parent);

// Sets the window-text colour for every state, then `disabled` for the disabled state.
void setTextColours(QWidget* widget, const QColor& colour, const QColor& disabled);
// The same with the colour faded to alpha 100 when disabled.
void setTextColours(QWidget* widget, const QColor& colour);

QString colorToHexString(const QColor& colour);
QString colorToRgbaString(const QColor& colour, int alpha);

QString elidedText(QWidget* widget, const QString& text, Qt::TextElideMode mode);
// `source` on a transparent picture at opacity 0.3 (mode 0), 1 (1), 0.75 (2), 0.4 (3), else 0.
QPixmap fadedPixmap(const QPixmap& source, int mode);

// Fixed-point values of the settings sliders: value x 10^decimals, rounded half away from zero.
int toFixed(double value, int decimals);
double fromFixed(int value, int decimals);

// The one picture loader of the card UI: picks up a resolution variant ("name@2x") through the
// icon machinery. A path that names no picture gives a null pixmap.
QPixmap loadHiDpiPixmap(const QString& path);
// Reads and decodes the pictures loadHiDpiPixmap would read for `paths` (names without suffix),
// without making pixmaps, so safe on any thread. Unreadable ones are left out.
QHash<QString, QImage> decodePictures(const QStringList& paths);
// Hands pictures from decodePictures to loadHiDpiPixmap, which then reads those files no more
// (GUI thread).
void useDecodedPictures(const QHash<QString, QImage>& pictures);

// The grey gradient style of the card push buttons (default border in the accent colour).
QString gradientButtonStyleSheet();
