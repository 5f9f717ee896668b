#pragma once

#include <QList>
#include <QObject>

class Family;
class VisibleDevice;

// The one ordered list of every family's visible devices, with a single selection.
// USB devices come first, then the others; each group by display name. Never owns a device.
class DeviceList : public QObject
{
    Q_OBJECT
public:
    explicit DeviceList(QObject* parent = nullptr);

    void select(int index);
    void selectNext();
    void selectPrevious();

    int indexOf(VisibleDevice* device) const;
    VisibleDevice* selectedDevice() const { return m_selected; }
    int selectedIndex() const;
    int count() const { return int(m_entries.size()); }
    VisibleDevice* deviceAt(int index) const;
    Family* ownerOf(VisibleDevice* device) const;

    // 1 inserts in sort order; any other value appends.
    void setSorted(int sorted) { m_sorted = sorted; }
    int sorted() const { return m_sorted; }

Q_SIGNALS:
    void deviceListAdded(VisibleDevice* device);
    void deviceListRemoved(VisibleDevice* device);
    void deviceListSelected(VisibleDevice* device);
    void deviceListChanged(VisibleDevice* device);

public Q_SLOTS:
    void onDeviceAdded(VisibleDevice* device);
    void onDeviceRemoved(VisibleDevice* device);
    void onDeviceInfoChanged(VisibleDevice* device);

private:
    struct Entry
    {
        VisibleDevice* device;
        Family* owner;
    };

    int insertPosition(VisibleDevice* device) const;

    QList<Entry> m_entries;
    VisibleDevice* m_selected = nullptr;
    int m_sorted = 1;
};
