#pragma once

#include <QCheckBox>

// A check box of a settings row.
class SettingsCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit SettingsCheckBox(const QString& text = QString(), QWidget* parent = nullptr);
};
