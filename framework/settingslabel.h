#pragma once

#include <QLabel>

// The value text of a settings row.
class SettingsLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SettingsLabel(const QString& text = QString(), QWidget* parent = nullptr);

    // With eliding on, a text too wide for the label ends in an ellipsis.
    void setElideEnabled(bool enabled);
    bool elideEnabled() const { return m_elide; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_elide = false;
};
