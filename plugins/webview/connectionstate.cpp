#include "connectionstate.h"

QString connectionStateName(int state)
{
    switch (state) {
    case Idle:
        return QStringLiteral("Idle");
    case Connecting:
        return QStringLiteral("Connecting");
    case Connected:
        return QStringLiteral("Connected");
    case Interrupted:
        return QStringLiteral("Interrupted");
    }
    return {};
}

QString connectionTypeName(int type)
{
    switch (type) {
    case 0:
        return QStringLiteral("None");
    case 1:
        return QStringLiteral("USB");
    case 2:
        return QStringLiteral("Ethernet");
    }
    return {};
}
