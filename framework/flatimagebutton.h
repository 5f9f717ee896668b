#pragma once

#include <QAbstractButton>
#include <QPixmap>
#include <QVariant>

// A button drawn from pictures: one per state, the normal one when a state has none.
class FlatImageButton : public QAbstractButton
{
    Q_OBJECT
public:
    FlatImageButton(const QPixmap& normal, QWidget* parent = nullptr);
    FlatImageButton(const QString& normalPath, QWidget* parent = nullptr);

    void setPixmap(const QPixmap& pixmap);
    void setDisabledPixmap(const QPixmap& pixmap);
    void setDisabledPixmap(const QString& path);
    void setHoverPixmap(const QPixmap& pixmap);
    void setHoverPixmap(const QString& path);
    void setHoverUnderlayPixmap(const QPixmap& pixmap);
    void setPressedPixmap(const QString& path);
    void setCheckedPixmap(const QPixmap& pixmap);
    void setCheckedPixmap(const QString& path);

    QPixmap pixmap() const { return m_normal; }
    QVariant data() const { return m_data; }
    void setData(const QVariant& data) { m_data = data; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    // The picture paintEvent draws last for the current state (null when none).
    QPixmap currentPixmap() const;
    bool isHovered() const;

private:
    void fitToNormal();

    QPixmap m_normal;
    QPixmap m_disabled;
    QPixmap m_hover;
    QPixmap m_hoverUnderlay;
    QPixmap m_pressed;
    QPixmap m_checked;
    QVariant m_data;
    // Set when the window is (de)activated: no hover picture until the mouse comes in again.
    bool m_suppressHover = false;
};
