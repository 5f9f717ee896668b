#include <QObject>
#include <QtPlugin>

// A Qt plug-in of some other kind: the host must leave it alone.
class OtherInterface
{
public:
    virtual ~OtherInterface() = default;
    virtual int answer() = 0;
};
Q_DECLARE_INTERFACE(OtherInterface, "com.example.Other/1.0")

class OtherPlugin : public QObject, public OtherInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "com.example.Other/1.0")
    Q_INTERFACES(OtherInterface)
public:
    int answer() override { return 42; }
};

#include "otherinterfaceplugin.moc"
