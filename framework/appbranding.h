#pragma once

#include <QCoreApplication>
#include <QPixmap>
#include <QString>

// The names, icons, messages and accent colour of this product line, read from
// Resources/settings.ini beside the program. Every module holds and loads its own record.
class AppBranding
{
    Q_DECLARE_TR_FUNCTIONS(AppBranding)
public:
    struct Record
    {
        Record();

        QString appName;
        QString fullAppName;
        QString product;
        QString productSingular;
        QString pluginProduct;
        QString aboutIconPath;
        QString noDeviceIconPath;
        QString noDeviceMessage;
        QString noDeviceHeader;
        QString badInstallIconPath;
        QString badInstallMessage;
        QString badInstallHeader;
        QString releaseVersion;
        QString releaseYear;
        bool networkDiscovery = false;
        bool forceSingleWindow = false;
        bool hasCustomPage = false;
        bool pluginInsideBundle = false;
        bool useAnNotA = false;
    };

    // The module's record, built with its initial values on first use.
    static Record& instance();
    // Reads <program folder>/Resources/settings.ini into instance(); works before any
    // application object exists. False, with the record untouched, when there is no product.
    static bool load();
    // The same from a given Resources folder into a given record.
    static bool loadInto(Record& record, const QString& resourcesDir);
    // The folder of the running program (not of a plug-in library).
    static QString programDirectory();

    // Configured texts, offered to translation keyed by the text itself.
    static QString noDeviceHeader();
    static QString noDeviceMessage();
    static QString badInstallHeader();
    static QString badInstallMessage();

    // The host's accessors.
    static QString appName();
    static QString fullAppName();
    static QString companyName();
    static QPixmap appIcon();
    static QPixmap noDevicePixmap();
    static QPixmap badInstallPixmap();
    static QString releaseVersion();
    static QString releaseYear();
    static QString aboutMenuText();
    static QString noDeviceFoundText();
    static QString addDeviceText();
    static bool usesNetworkDevices();
    // The two flags are only ever switched on.
    static void setUsesNetworkDevices(bool uses = true);
    static bool hasCustomPage();
    static void setHasCustomPage(bool has = true);
};
