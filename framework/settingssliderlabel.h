#pragma once

#include <QLabel>

// The small grey text beside a settings slider (its value or its unit).
class SettingsSliderLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SettingsSliderLabel(QWidget* parent = nullptr);
};
