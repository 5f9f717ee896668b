#include "framework/appbranding.h"

#include "framework/accentcolour.h"
#include "framework/frameworkresources.h"
#include "framework/style.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace {

const QString kGroup = QStringLiteral("corvanedesign.devicesetup");
const QString kAccentPlaceholder = QStringLiteral("%accent_colour%");

QString currentYear()
{
    return QString::number(QDate::currentDate().year());
}

// An unquoted value holding a comma reads as a list; the file meant the text as written.
QString text(const QSettings& settings, const QString& key, const QString& fallback = {})
{
    const QVariant value = settings.value(key, fallback);
    if (value.metaType().id() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

bool flag(const QSettings& settings, const QString& key, const QString& fallback)
{
    return settings.value(key, fallback).toBool();
}

QString withAccent(QString message)
{
    return message.replace(kAccentPlaceholder, colorToHexString(accentColour()),
                           Qt::CaseInsensitive);
}

// The beta number of a build string such as "b12": the digits after the "b", read as atoi
// would (sign allowed, stops at the first non-digit, nothing gives 0) but clamped, not undefined.
long betaNumber(const QString& rest)
{
    const QByteArray digits = rest.toLatin1();
    long n = std::strtol(digits.constData(), nullptr, 10);
    if (n > INT_MAX)
        n = INT_MAX;
    if (n < INT_MIN)
        n = INT_MIN;
    return n;
}

QString translated(const QString& configured)
{
    return AppBranding::tr(configured.toUtf8().constData());
}

} // namespace

AppBranding::Record::Record()
    : appName(QStringLiteral("Generic Setup"))
    , fullAppName(QStringLiteral("Corvane Generic Setup"))
    , product(QStringLiteral("Generic"))
    , productSingular(QStringLiteral("Generic"))
    , pluginProduct(QStringLiteral("Generic"))
    , noDeviceIconPath(QStringLiteral(":/NoDevice"))
    , badInstallIconPath(QStringLiteral(":/BadInstall"))
    , releaseVersion(QStringLiteral("0.0"))
    , releaseYear(currentYear())
{
}

AppBranding::Record& AppBranding::instance()
{
    static Record record;
    return record;
}

QString AppBranding::programDirectory()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length > 0)
        return QFileInfo(QString::fromLocal8Bit(path, length)).absolutePath();
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QDir::currentPath();
}

bool AppBranding::load()
{
    initFrameworkResources();
    return loadInto(instance(),
                    programDirectory() + QLatin1Char('/') + QStringLiteral("Resources"));
}

bool AppBranding::loadInto(Record& record, const QString& resourcesDir)
{
    const QString file = resourcesDir + QLatin1Char('/') + QStringLiteral("settings.ini");
    if (!QFileInfo(file).isFile())
        return false;
    QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError || !settings.childGroups().contains(kGroup))
        return false;
    settings.beginGroup(kGroup);

    const QString product = text(settings, QStringLiteral("product"));
    const QString singular = text(settings, QStringLiteral("product_singular"), product);
    const QString pluginProduct = text(settings, QStringLiteral("plugin_product"), product);
    const QString prefix =
        text(settings, QStringLiteral("utility_prefix"), QStringLiteral("Corvane"));
    const QString suffix =
        text(settings, QStringLiteral("utility_suffix"), QStringLiteral("Setup"));
    const QString appName = text(settings, QStringLiteral("app_name"));
    const QString fullAppName = text(settings, QStringLiteral("full_app_name"));
    if (product.isEmpty())
        return false;

    record.product = product;
    record.productSingular = singular;
    record.pluginProduct = pluginProduct;

    if (!appName.isEmpty())
        record.appName = appName;
    else if (!suffix.isEmpty())
        record.appName = tr("%1 %2").arg(product, suffix);
    else
        record.appName = product;

    if (!fullAppName.isEmpty())
        record.fullAppName = fullAppName;
    else if (!prefix.isEmpty())
        record.fullAppName = tr("%1 %2").arg(prefix, record.appName);
    else
        record.fullAppName = record.appName;

    const QString accent = text(settings, QStringLiteral("accent"), QStringLiteral("#ffffff"));
    if (!accent.isEmpty())
        setModuleAccentColour(QColor(accent));

    record.aboutIconPath =
        resourcesDir + QLatin1Char('/') + text(settings, QStringLiteral("about_icon"));
    const QString noDevice = text(settings, QStringLiteral("no_device"));
    if (!noDevice.isEmpty())
        record.noDeviceIconPath = resourcesDir + QLatin1Char('/') + noDevice;

    record.noDeviceMessage = withAccent(text(settings, QStringLiteral("no_device_message")));
    record.badInstallMessage = withAccent(text(settings, QStringLiteral("bad_install_message")));
    record.noDeviceHeader =
        text(settings, QStringLiteral("no_device_header"), QStringLiteral("No Device found"));
    record.badInstallHeader = text(settings, QStringLiteral("bad_install_header"),
                                   QStringLiteral("The software is not compatible"));

    record.forceSingleWindow = flag(settings, QStringLiteral("force_single_window"), "1");

    record.releaseVersion =
        text(settings, QStringLiteral("release_version"), QStringLiteral("0.0"));
    const QString build = text(settings, QStringLiteral("build_string"));
    if (build.size() > 2 && build.startsWith(QLatin1Char('b'))) {
        const long beta = betaNumber(build.mid(1));
        if (beta == 1)
            record.releaseVersion += QStringLiteral(" Beta");
        else if (beta >= 2)
            record.releaseVersion += QStringLiteral(" Beta %1").arg(beta);
    }
    record.releaseYear = text(settings, QStringLiteral("release_year"), currentYear());

    record.pluginInsideBundle = flag(settings, QStringLiteral("plugin_inside_bundle"), "0");
    record.useAnNotA = flag(settings, QStringLiteral("use_an_not_a"), "0");
    return true;
}

QString AppBranding::noDeviceHeader()
{
    return translated(instance().noDeviceHeader);
}

QString AppBranding::noDeviceMessage()
{
    return translated(instance().noDeviceMessage);
}

QString AppBranding::badInstallHeader()
{
    return translated(instance().badInstallHeader);
}

QString AppBranding::badInstallMessage()
{
    return translated(instance().badInstallMessage);
}

QString AppBranding::appName()
{
    return instance().appName;
}

QString AppBranding::fullAppName()
{
    return instance().fullAppName;
}

QString AppBranding::companyName()
{
    return QStringLiteral("Corvane Design");
}

QPixmap AppBranding::appIcon()
{
    return loadHiDpiPixmap(instance().aboutIconPath);
}

QPixmap AppBranding::noDevicePixmap()
{
    return loadHiDpiPixmap(instance().noDeviceIconPath);
}

QPixmap AppBranding::badInstallPixmap()
{
    return loadHiDpiPixmap(instance().badInstallIconPath);
}

QString AppBranding::releaseVersion()
{
    return instance().releaseVersion;
}

QString AppBranding::releaseYear()
{
    return instance().releaseYear;
}

QString AppBranding::aboutMenuText()
{
    return tr("About %1").arg(appName());
}

QString AppBranding::noDeviceFoundText()
{
    return tr("No %1 found").arg(instance().productSingular);
}

QString AppBranding::addDeviceText()
{
    return instance().useAnNotA ? tr("Add an %1").arg(instance().productSingular)
                                : tr("Add a %1").arg(instance().productSingular);
}

bool AppBranding::usesNetworkDevices()
{
    return instance().networkDiscovery;
}

void AppBranding::setUsesNetworkDevices(bool uses)
{
    instance().networkDiscovery = instance().networkDiscovery || uses;
}

bool AppBranding::hasCustomPage()
{
    return instance().hasCustomPage;
}

void AppBranding::setHasCustomPage(bool has)
{
    instance().hasCustomPage = instance().hasCustomPage || has;
}
