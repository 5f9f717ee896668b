#include "plugins/deckcontroller/maxutf8lengthvalidator.h"

MaxUtf8LengthValidator::MaxUtf8LengthValidator(int size, int flags, QObject* parent)
    : QValidator(parent)
    , m_maximum(size - 1)
    , m_flags(flags)
{
}

MaxUtf8LengthValidator* MaxUtf8LengthValidator::unitName()
{
    static MaxUtf8LengthValidator validator(63, 0, nullptr);
    return &validator;
}

QValidator::State MaxUtf8LengthValidator::validate(QString& text, int&) const
{
    if (text.isEmpty() && !(m_flags & AllowEmpty))
        return Intermediate;
    if (text.toUtf8().size() > m_maximum)
        return Invalid;
    if (text.isEmpty())
        return Acceptable;
    if (!(m_flags & AllowLeadingSpace) && text.front().isSpace())
        return Intermediate;
    if (m_flags & AllowTrailingSpace)
        return Acceptable;
    return text.back().isSpace() ? Intermediate : Acceptable;
}

void MaxUtf8LengthValidator::fixup(QString& text) const
{
    const bool leading = m_flags & AllowLeadingSpace;
    const bool trailing = m_flags & AllowTrailingSpace;
    if (leading && trailing)
        return;
    if (!leading && !trailing) {
        text = text.trimmed();
        return;
    }
    qsizetype start = 0, end = text.size();
    if (leading) {
        while (end > 0 && text.at(end - 1).isSpace())
            --end;
    } else {
        while (start < end && text.at(start).isSpace())
            ++start;
    }
    text = text.mid(start, end - start);
}
