#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPixmap>

// A tab title of tabbed card pages: underlined in the accent colour when current, with an alert
// mark while its page was left invalid.
class TabButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit TabButton(const QString& title, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    QRect textRect() const { return m_textRect; }
    bool alert() const { return m_alert; }
    void setAlert(bool alert);
    void setAccent(const QColor& accent) { m_accent = accent; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
    QRect m_textRect;
    QPixmap m_alertPixmap;
    bool m_alert = false;
    QColor m_accent;
};
