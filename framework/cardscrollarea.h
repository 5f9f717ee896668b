#pragma once

#include <QScrollArea>

class QScrollBar;

// A frameless scroll area whose thin scroll bar floats over the content instead of taking room.
class CardScrollArea : public QScrollArea
{
    Q_OBJECT
public:
    explicit CardScrollArea(QWidget* parent = nullptr);

    QScrollBar* overlayBar() const { return m_overlayBar; }
    void setOverlayBarVisible(bool visible);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* obj, QEvent* event) override;

private:
    void sync();

    QScrollBar* m_overlayBar;
};
