#include "framework/frameworkresources.h"

#include <QFile>
#include <QFontDatabase>
#include <QStringList>

#include <mutex>

void initFrameworkResources()
{
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(framework); });
}

QList<QByteArray> readApplicationFonts()
{
    initFrameworkResources();
    QList<QByteArray> files;
    for (const char* name :
         {":/OpenSans-Light", ":/OpenSans-Regular", ":/OpenSans-Bold", ":/OpenSans-Semibold"}) {
        QFile file(QString::fromLatin1(name));
        files.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return files;
}

bool registerApplicationFonts(const QList<QByteArray>& files)
{
    static const bool loaded = [&files] {
        const QList<QByteArray> read = files.isEmpty() ? readApplicationFonts() : files;
        bool all = true;
        for (const QByteArray& file : read)
            all = QFontDatabase::addApplicationFontFromData(file) >= 0 && all;
        return all;
    }();
    return loaded;
}
