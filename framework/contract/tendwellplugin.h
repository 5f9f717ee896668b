#pragma once

#include <QDir>
#include <QList>
#include <QtPlugin>

class Family;
class TendwellWindow;

// The root object of every device plug-in implements this.
class TendwellPlugin
{
public:
    virtual ~TendwellPlugin() = default;
    // Called once after loading; false makes the host unload the library.
    virtual bool initialize(QDir pluginDir, TendwellWindow* window) = 0;
    // Read once after a successful initialize; the host adds the families in this order.
    virtual const QList<Family*>& families() = 0;
};

#define TendwellPlugin_iid "com.corvanedesign.Tendwell.TendwellPlugin/1.0"
Q_DECLARE_INTERFACE(TendwellPlugin, TendwellPlugin_iid)
