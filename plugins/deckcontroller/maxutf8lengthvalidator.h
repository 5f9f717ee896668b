#pragma once

#include <QValidator>

// Limits a text by the length of its UTF-8 form rather than its characters, and refuses white
// space at either end unless the flags allow it.
class MaxUtf8LengthValidator : public QValidator
{
    Q_OBJECT
public:
    enum Flag { AllowEmpty = 1, AllowLeadingSpace = 2, AllowTrailingSpace = 4 };

    // size counts the terminating zero of the unit's field: at most size - 1 bytes.
    MaxUtf8LengthValidator(int size, int flags, QObject* parent = nullptr);

    State validate(QString& text, int& position) const override;
    // Removes the white space the flags do not allow; never shortens a text that is too long.
    void fixup(QString& text) const override;

    int maximumBytes() const { return m_maximum; }

    // The unit name's rule: at most 62 bytes, not empty, no white space at either end.
    static MaxUtf8LengthValidator* unitName();

private:
    int m_maximum;
    int m_flags;
};
