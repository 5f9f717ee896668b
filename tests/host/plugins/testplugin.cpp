#include "framework/contract/tendwellplugin.h"
#include "testfamily.h"

#include <QObject>

#ifndef TEST_PLUGIN_INIT_OK
#define TEST_PLUGIN_INIT_OK 1
#endif

// A device plug-in for tests: its families are named by TEST_PLUGIN_FAMILIES (comma separated);
// TEST_PLUGIN_DEFAULTS sets "key=value" properties on each ("devices=A|B;network=1").
class TestPlugin : public QObject, public TendwellPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TendwellPlugin_iid)
    Q_INTERFACES(TendwellPlugin)
public:
    bool initialize(QDir, TendwellWindow* window) override
    {
        if (!TEST_PLUGIN_INIT_OK)
            return false;
        const QStringList names = QStringLiteral(TEST_PLUGIN_FAMILIES).split(QLatin1Char(','));
        for (const QString& name : names) {
            auto* family = new TestFamily(name, window);
            for (const QString& setting :
                 QStringLiteral(TEST_PLUGIN_DEFAULTS).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const QString key = setting.section(QLatin1Char('='), 0, 0);
                const QString value = setting.section(QLatin1Char('='), 1);
                if (key == QLatin1String("network") || key == QLatin1String("postToWindow"))
                    family->setProperty(key.toLatin1().constData(), value == QLatin1String("1"));
                else
                    family->setProperty(key.toLatin1().constData(),
                                        value.split(QLatin1Char('|'), Qt::SkipEmptyParts));
            }
            m_families.append(family);
        }
        return true;
    }

    const QList<Family*>& families() override { return m_families; }

private:
    QList<Family*> m_families;
};

#include "testplugin.moc"
