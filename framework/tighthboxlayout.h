#pragma once

#include <QHBoxLayout>

// A row without spacing or margins; the card UI places its gaps itself.
class TightHBoxLayout : public QHBoxLayout
{
    Q_OBJECT
public:
    TightHBoxLayout();
    explicit TightHBoxLayout(QWidget* parent);
};
