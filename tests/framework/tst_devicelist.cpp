#include "framework/contract/devicelist.h"
#include "framework/contract/family.h"
#include "framework/contract/visibledevice.h"
#include "stubdevice.h"

#include <QtTest>

#include <map>
#include <memory>

namespace {

class FakeDevice : public StubDevice
{
public:
    FakeDevice(Family* owner, const QString& name, bool isUsb)
        : StubDevice(owner, name)
    {
        usb = isUsb;
    }
};

// Runs a script of list operations against one list and records what it says.
// Devices are named by a key; "Key=Name" gives a device a display name other than its key.
//   +net:K  +usb:K  +orphan:K   add a network, USB or owner-less device
//   -K                          remove (K need not be listed)
//   ~K                          info changed
//   sel:N  next  prev           selection
class Script
{
public:
    Script()
        : family(nullptr)
    {
        QObject::connect(&list, &DeviceList::deviceListAdded,
                         [this](VisibleDevice* d) { log << "added:" + key(d); });
        QObject::connect(&list, &DeviceList::deviceListRemoved,
                         [this](VisibleDevice* d) { log << "removed:" + key(d); });
        QObject::connect(&list, &DeviceList::deviceListSelected,
                         [this](VisibleDevice* d) { log << "selected:" + key(d); });
        QObject::connect(&list, &DeviceList::deviceListChanged,
                         [this](VisibleDevice* d) { log << "changed:" + key(d); });
    }

    void run(const QStringList& ops)
    {
        for (const QString& op : ops) {
            if (op.startsWith('+')) {
                const QString kind = op.section(':', 0, 0).mid(1);
                const QString entry = op.section(':', 1);
                const QString k = entry.section('=', 0, 0);
                const QString name = entry.contains(QLatin1Char('=')) ? entry.section('=', 1) : k;
                auto d = std::make_unique<FakeDevice>(kind == "orphan" ? nullptr : &family, name,
                                                      kind == "usb");
                VisibleDevice* raw = d.get();
                devices[k] = std::move(d);
                keys[raw] = k;
                list.onDeviceAdded(raw);
            } else if (op.startsWith('-')) {
                list.onDeviceRemoved(device(op.mid(1)));
            } else if (op.startsWith('~')) {
                list.onDeviceInfoChanged(device(op.mid(1)));
            } else if (op.startsWith("sel:")) {
                list.select(op.mid(4).toInt());
            } else if (op == "next") {
                list.selectNext();
            } else if (op == "prev") {
                list.selectPrevious();
            } else {
                QFAIL(qPrintable("bad op " + op));
            }
        }
    }

    QString order() const
    {
        QStringList out;
        for (int i = 0; i < list.count(); ++i)
            out << key(list.deviceAt(i));
        return out.join(',');
    }

    VisibleDevice* device(const QString& k)
    {
        auto it = devices.find(k);
        if (it != devices.end())
            return it->second.get();
        // An unknown key is a device that was never added.
        auto d = std::make_unique<FakeDevice>(&family, k, false);
        VisibleDevice* raw = d.get();
        keys[raw] = k;
        devices[k] = std::move(d);
        return raw;
    }

    QString key(VisibleDevice* d) const
    {
        auto it = keys.find(d);
        return it == keys.end() ? QStringLiteral("null") : it->second;
    }

    Family family;
    DeviceList list;
    std::map<QString, std::unique_ptr<FakeDevice>> devices;
    std::map<VisibleDevice*, QString> keys;
    QStringList log;
};

} // namespace

class TestDeviceList : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void script_data();
    void script();
    void appendsWhenNotSorted();
    void ownerOfFollowsTheList();
};

void TestDeviceList::script_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("first device is selected before it is announced")
        << QStringList{"+net:B"} << "B"
        << "B" << QStringList{"selected:B", "added:B"};
    QTest::newRow("network devices sort by name, selection stays")
        << QStringList{"+net:B", "+net:A"} << "A,B"
        << "B" << QStringList{"selected:B", "added:B", "added:A"};
    QTest::newRow("usb devices come first")
        << QStringList{"+net:B", "+net:A", "+usb:Z"} << "Z,A,B"
        << "B" << QStringList{"selected:B", "added:B", "added:A", "added:Z"};
    QTest::newRow("usb group sorted on its own")
        << QStringList{"+usb:Y", "+net:A", "+usb:X"} << "X,Y,A"
        << "Y" << QStringList{"selected:Y", "added:Y", "added:A", "added:X"};
    QTest::newRow("lower case sorts after upper case")
        << QStringList{"+net:a", "+net:B"} << "B,a"
        << "a" << QStringList{"selected:a", "added:a", "added:B"};
    QTest::newRow("equal names keep arrival order")
        << QStringList{"+net:x1=X", "+net:x2=X", "+net:w=W", "+net:x3=X"} << "w,x1,x2,x3"
        << "x1" << QStringList{"selected:x1", "added:x1", "added:x2", "added:w", "added:x3"};
    QTest::newRow("removing the selected device selects the new first")
        << QStringList{"+net:A", "+net:B", "sel:1", "-B"} << "A"
        << "A"
        << QStringList{"selected:A", "added:A", "added:B", "selected:B", "selected:A", "removed:B"};
    QTest::newRow("removing the last device selects null")
        << QStringList{"+net:A", "-A"} << ""
        << "null" << QStringList{"selected:A", "added:A", "selected:null", "removed:A"};
    QTest::newRow("removing an unlisted device still announces it")
        << QStringList{"+net:A", "-Q"} << "A"
        << "A" << QStringList{"selected:A", "added:A", "removed:Q"};
    QTest::newRow("removing another device keeps the selection")
        << QStringList{"+net:A", "+net:B", "-B"} << "A"
        << "A" << QStringList{"selected:A", "added:A", "added:B", "removed:B"};
    QTest::newRow("next on the last and previous on the first do nothing")
        << QStringList{"+net:A", "+net:B", "prev", "sel:1", "next"} << "A,B"
        << "B" << QStringList{"selected:A", "added:A", "added:B", "selected:B"};
    QTest::newRow("next and previous walk the list")
        << QStringList{"+net:A", "+net:B", "+net:C", "next", "next", "prev"} << "A,B,C"
        << "B" << QStringList{"selected:A", "added:A",    "added:B",   "added:C",
                              "selected:B", "selected:C", "selected:B"};
    QTest::newRow("next with nothing selected selects the first")
        << QStringList{"+net:A", "sel:-1", "next"} << "A"
        << "A" << QStringList{"selected:A", "added:A", "selected:null", "selected:A"};
    QTest::newRow("select out of range selects null and always announces")
        << QStringList{"+net:A", "sel:0", "sel:5"} << "A"
        << "null" << QStringList{"selected:A", "added:A", "selected:A", "selected:null"};
    QTest::newRow("device without an owner is never listed")
        << QStringList{"+orphan:O", "+net:A"} << "A"
        << "A" << QStringList{"selected:A", "added:A"};
    QTest::newRow("info change keeps the place")
        << QStringList{"+net:A", "+net:B", "~A"} << "A,B"
        << "A" << QStringList{"selected:A", "added:A", "added:B", "changed:A"};
    QTest::newRow("select on an empty list selects null") << QStringList{"sel:0"} << ""
                                                          << "null" << QStringList{"selected:null"};
}

void TestDeviceList::script()
{
    QFETCH(QStringList, ops);
    QFETCH(QString, order);
    QFETCH(QString, selected);
    QFETCH(QStringList, log);

    Script s;
    s.run(ops);
    QCOMPARE(s.order(), order);
    QCOMPARE(s.key(s.list.selectedDevice()), selected);
    QCOMPARE(s.log, log);
    QCOMPARE(s.list.selectedIndex(), s.list.indexOf(s.list.selectedDevice()));
}

void TestDeviceList::appendsWhenNotSorted()
{
    Script s;
    s.list.setSorted(0);
    s.run({"+net:B", "+net:A", "+usb:Z"});
    QCOMPARE(s.order(), QStringLiteral("B,A,Z"));
}

void TestDeviceList::ownerOfFollowsTheList()
{
    Script s;
    s.run({"+net:A"});
    QCOMPARE(s.list.ownerOf(s.device("A")), &s.family);
    s.run({"-A"});
    QCOMPARE(s.list.ownerOf(s.device("A")), nullptr);
    QCOMPARE(s.list.indexOf(nullptr), -1);
}

QTEST_GUILESS_MAIN(TestDeviceList)
#include "tst_devicelist.moc"
