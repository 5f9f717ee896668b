#pragma once

#include <QLabel>

// A one-line plain-text label that ends in an ellipsis when its text does not fit.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    ElidedLabel(const QString& text, const QFont& font, const QColor& colour,
                QWidget* parent = nullptr);

    // Whether the text is wider than the room it has, so painting elides it.
    bool isElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};
