#pragma once

#include <QLineEdit>

class QLabel;

// A text field of a settings row, with a small icon at its right end that says whether its
// input is acceptable.
class SettingsLineEdit : public QLineEdit
{
    Q_OBJECT
public:
    enum StatusIcon { NoIcon = 0, OkIcon = 1, AlertIcon = 2 };
    enum ValidatorKind { NonEmpty = 0, IpAddress = 1, NoValidator = 2 };

    explicit SettingsLineEdit(QWidget* parent = nullptr);

    // 0: the shared non-empty rule, 1: the shared address rule; other kinds change nothing.
    void setValidatorKind(int kind);

    void setStatusIcon(int state);
    int statusIconState() const { return m_iconState; }
    QLabel* statusIconLabel() const { return m_statusIcon; }
    void setStatusIconEnabled(bool enabled);
    bool statusIconEnabled() const { return m_statusIconEnabled; }

public Q_SLOTS:
    void updateStatusIcon();
    void onReturnPressed();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    QLabel* m_statusIcon;
    bool m_statusIconEnabled = true;
    int m_iconState = NoIcon;
};
