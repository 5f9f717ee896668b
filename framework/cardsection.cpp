#include "framework/cardsection.h"

#include "framework/style.h"

#include <QLabel>

CardSection::CardSection(const QString& title, QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(47);
    if (!title.isEmpty()) {
        QLabel* label = makeLabel(4, QColor(71, 71, 71), this);
        label->setText(title);
        label->adjustSize();
        label->move(30, 11);
    }
}
