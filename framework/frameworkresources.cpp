#include "framework/frameworkresources.h"

#include <QFontDatabase>
#include <QStringList>

#include <mutex>

void initFrameworkResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(framework); });
}

bool registerApplicationFonts()
{
    initFrameworkResources();
    static const bool loaded = [] {
        bool all = true;
        for (const char* name :
             {":/OpenSans-Light", ":/OpenSans-Regular", ":/OpenSans-Bold", ":/OpenSans-Semibold"})
            all = QFontDatabase::addApplicationFont(QString::fromLatin1(name)) >= 0 && all;
        return all;
    }();
    return loaded;
}
