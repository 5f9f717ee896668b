#pragma once

#include <QFrame>
#include <QPointer>

// A dialog drawn inside the window it belongs to: a dark translucent sheet over the whole
// window with a white rounded frame centred on it. It follows the window's size. While shown it
// holds the keyboard: focus goes into it, Tab cycles inside it, and neither focus nor keys reach
// the widgets it covers; when it is hidden or deleted, focus goes back where it was.
class TendwellDialog : public QFrame
{
    Q_OBJECT
public:
    explicit TendwellDialog(QWidget* parent);
    ~TendwellDialog() override;

    QFrame* frame() const { return m_frame; }
    // Covers the window again and puts the frame back in its middle.
    void centreFrame();

protected Q_SLOTS:
    bool eventFilter(QObject* obj, QEvent* event) override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void onFocusChanged(QWidget* now);
    // The widgets inside that take focus by Tab, in tab order.
    QList<QWidget*> tabChain() const;
    void takeFocus();
    void giveFocusBack();

    QFrame* m_frame;
    QPointer<QWidget> m_focusBefore;
    QMetaObject::Connection m_focusWatch;
};
