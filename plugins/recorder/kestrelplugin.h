#pragma once

#include "framework/contract/tendwellplugin.h"

#include <QObject>

// Root object of the Tamsett plug-in: USB video recorders. Lives until the process ends, so it
// may outlive the windows it gave families to.
class KestrelPlugin : public QObject, public TendwellPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.corvanedesign.Tendwell.KestrelPlugin" FILE "kestrelplugin.json")
    Q_INTERFACES(TendwellPlugin)
public:
    KestrelPlugin();

    bool initialize(QDir pluginDir, TendwellWindow* window) override;
    const QList<Family*>& families() override;

private:
    QList<Family*> m_families;
};
