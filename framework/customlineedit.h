#pragma once

#include "framework/settingslineedit.h"

// A settings field that goes back to its last accepted text on Escape, or when it is left with
// input its validator does not accept.
class CustomLineEdit : public SettingsLineEdit
{
    Q_OBJECT
public:
    explicit CustomLineEdit(QWidget* parent = nullptr);

    // The text Escape goes back to; the owner sets it whenever it shows a value from the device.
    void setRevertText(const QString& text);
    QString revertText() const { return m_revertText; }
    bool isEdited() const { return m_edited; }

Q_SIGNALS:
    void editingFinishedWithNewText();

public Q_SLOTS:
    void onEdit();
    void onEditFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    QString m_revertText;
    bool m_edited = false;
};
