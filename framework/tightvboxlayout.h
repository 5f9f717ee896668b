#pragma once

#include <QVBoxLayout>

// A column without spacing or margins; the card UI places its gaps itself.
class TightVBoxLayout : public QVBoxLayout
{
    Q_OBJECT
public:
    TightVBoxLayout();
    explicit TightVBoxLayout(QWidget* parent);
};
