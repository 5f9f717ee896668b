#pragma once

#include <QFrame>

// A dialog drawn inside the window it belongs to: a dark translucent sheet over the whole
// window with a white rounded frame centred on it. It follows the window's size.
class TendwellDialog : public QFrame
{
    Q_OBJECT
public:
    explicit TendwellDialog(QWidget* parent);

    QFrame* frame() const { return m_frame; }
    // Covers the window again and puts the frame back in its middle.
    void centreFrame();

protected Q_SLOTS:
    bool eventFilter(QObject* obj, QEvent* event) override;

private:
    QFrame* m_frame;
};
