#include "framework/customlineedit.h"

#include <QKeyEvent>

CustomLineEdit::CustomLineEdit(QWidget* parent)
    : SettingsLineEdit(parent)
{
    connect(this, &QLineEdit::textEdited, this, &CustomLineEdit::onEdit);
    connect(this, &QLineEdit::editingFinished, this, &CustomLineEdit::onEditFinished);
}

void CustomLineEdit::setRevertText(const QString& text)
{
    m_revertText = text;
}

void CustomLineEdit::onEdit()
{
    m_edited = true;
}

void CustomLineEdit::onEditFinished()
{
    m_edited = false;
    if (text() != m_revertText)
        Q_EMIT editingFinishedWithNewText();
}

void CustomLineEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        setText(m_revertText);
        m_edited = false;
        event->accept();
        return;
    }
    SettingsLineEdit::keyPressEvent(event);
}

void CustomLineEdit::focusOutEvent(QFocusEvent* event)
{
    SettingsLineEdit::focusOutEvent(event);
    if (!hasAcceptableInput()) {
        setText(m_revertText);
        m_edited = false;
    }
}
