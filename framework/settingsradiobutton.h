#pragma once

#include <QRadioButton>

// A radio button of a settings row.
class SettingsRadioButton : public QRadioButton
{
    Q_OBJECT
public:
    explicit SettingsRadioButton(const QString& text = QString(), QWidget* parent = nullptr);
};
