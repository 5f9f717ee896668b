#pragma once

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

// The branded band above the pages: the program's name on the left, the logo on the right.
class WindowHeader : public QWidget
{
    Q_OBJECT
public:
    explicit WindowHeader(QWidget* parent = nullptr);

    QRect nameRect() const { return m_nameRect; }
    // Its pictures, to read ahead.
    static QStringList picturePaths();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    QRect m_nameRect;
    QPixmap m_logo;
};
