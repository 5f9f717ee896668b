#include "framework/contract/devicelist.h"

#include "framework/contract/visibledevice.h"

DeviceList::DeviceList(QObject* parent)
    : QObject(parent)
{
}

int DeviceList::insertPosition(VisibleDevice* device) const
{
    int usbCount = 0;
    for (const Entry& e : m_entries) {
        if (e.device->isUsbDevice())
            ++usbCount;
    }
    const bool usb = device->isUsbDevice();
    const int begin = usb ? 0 : usbCount;
    const int end = usb ? usbCount : count();
    const QString name = device->displayName();
    for (int i = begin; i < end; ++i) {
        // Strictly below: an equal name goes after the ones already listed.
        if (QString::compare(name, m_entries[i].device->displayName(), Qt::CaseSensitive) < 0)
            return i;
    }
    return end;
}

void DeviceList::onDeviceAdded(VisibleDevice* device)
{
    if (!device)
        return;
    Family* owner = device->owner();
    if (!owner)
        return;
    const int at = m_sorted == 1 ? insertPosition(device) : count();
    m_entries.insert(at, Entry{device, owner});
    if (!m_selected)
        select(0);
    Q_EMIT deviceListAdded(device);
}

void DeviceList::onDeviceRemoved(VisibleDevice* device)
{
    const int at = indexOf(device);
    if (at >= 0)
        m_entries.removeAt(at);
    if (device && device == m_selected)
        select(0);
    Q_EMIT deviceListRemoved(device);
}

void DeviceList::onDeviceInfoChanged(VisibleDevice* device)
{
    Q_EMIT deviceListChanged(device);
}

void DeviceList::select(int index)
{
    m_selected = (index >= 0 && index < count()) ? m_entries[index].device : nullptr;
    Q_EMIT deviceListSelected(m_selected);
}

void DeviceList::selectNext()
{
    const int at = indexOf(m_selected);
    if (at >= 0) {
        if (at + 1 < count())
            select(at + 1);
    } else if (count() > 0) {
        select(0);
    }
}

void DeviceList::selectPrevious()
{
    const int at = indexOf(m_selected);
    if (at > 0)
        select(at - 1);
}

int DeviceList::indexOf(VisibleDevice* device) const
{
    if (!device)
        return -1;
    for (int i = 0; i < count(); ++i) {
        if (m_entries[i].device == device)
            return i;
    }
    return -1;
}

int DeviceList::selectedIndex() const
{
    return indexOf(m_selected);
}

VisibleDevice* DeviceList::deviceAt(int index) const
{
    return (index >= 0 && index < count()) ? m_entries[index].device : nullptr;
}

Family* DeviceList::ownerOf(VisibleDevice* device) const
{
    const int at = indexOf(device);
    return at >= 0 ? m_entries[at].owner : nullptr;
}
