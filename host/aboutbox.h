#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>

// The frameless box of the Help menu: icon, name, version and notice; any click closes it.
class AboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit AboutBox(QWidget* parent = nullptr);

    void setPicture(const QPixmap& picture);
    void setName(const QString& name);
    void setVersion(const QString& version);
    void setYear(const QString& year);

    bool isTwoLine() const { return m_twoLine; }
    QString noticeText() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_picture;
    QString m_name;
    QString m_version;
    QString m_year;
    bool m_twoLine = false;
};
