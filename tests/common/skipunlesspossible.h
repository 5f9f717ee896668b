#pragma once

#include <QByteArray>
#include <QString>
#include <QtTest>

#include <string>

// A test that cannot run here for want of something the machine must give it (a network
// namespace, an announcer, a display). Outside CI it skips with its reason; with CI=true it
// fails, so a check that never ran cannot pass there.
namespace SkipUnlessPossible {

inline bool inContinuousIntegration()
{
    return qgetenv("CI") == "true";
}

inline QByteArray text(const QByteArray& reason)
{
    return reason;
}
inline QByteArray text(const QString& reason)
{
    return reason.toUtf8();
}
inline QByteArray text(const std::string& reason)
{
    return QByteArray::fromStdString(reason);
}

} // namespace SkipUnlessPossible

#define SKIP_OR_FAIL_IN_CI(reason)                                                                 \
    do {                                                                                           \
        const QByteArray skipReason_ = SkipUnlessPossible::text(reason);                           \
        if (SkipUnlessPossible::inContinuousIntegration())                                         \
            QFAIL(("cannot run in CI: " + skipReason_).constData());                               \
        QSKIP(skipReason_.constData());                                                            \
    } while (false)
