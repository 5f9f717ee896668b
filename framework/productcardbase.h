#pragma once

#include <QFrame>

// The dimmed sheet over the whole main window with the card's white panel centred on it; it
// follows the window's size for as long as it lives.
class ProductCardBase : public QFrame
{
    Q_OBJECT
public:
    explicit ProductCardBase(QWidget* window);

    QWidget* body() const { return m_body; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applySizing();

    QWidget* m_topLevel;
    QWidget* m_body;
};
