#include "host/webenginesandbox.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstring>
#include <unistd.h>

namespace {

bool userHasDecided(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] && std::strcmp(argv[i], "--no-sandbox") == 0)
            return true;
    }
    return qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").split(' ').contains("--no-sandbox");
}

} // namespace

bool WebEngineSandbox::disableForRoot(int argc, char** argv)
{
    if (::geteuid() != 0 || userHasDecided(argc, argv))
        return false;
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qInfo("Running as root: the web view's Chromium sandbox is turned off (it cannot run as "
          "root).");
    return true;
}
