#pragma once

#include <QWidget>

// One arm of the bracket a slider link draws between its two sliders.
class LinkBar : public QWidget
{
public:
    enum Kind { Top = 0, Bottom = 1 };

    explicit LinkBar(int kind, QWidget* parent = nullptr);

    int kind() const { return m_kind; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_kind;
};
