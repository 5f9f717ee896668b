#pragma once

#include <QWidget>

// One page of a product card's stack.
class StatusPage : public QWidget
{
    Q_OBJECT
public:
    explicit StatusPage(QWidget* parent = nullptr);
};
