#pragma once

#include <QWidget>

// An empty gap of fixed height between settings rows.
class RowSpacer : public QWidget
{
    Q_OBJECT
public:
    explicit RowSpacer(int height, QWidget* parent = nullptr);
};
