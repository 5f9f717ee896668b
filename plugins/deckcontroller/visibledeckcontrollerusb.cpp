#include "plugins/deckcontroller/visibledeckcontrollerusb.h"

#include "framework/contract/family.h"

#include <cstdio>

VisibleDeckControllerUSB::VisibleDeckControllerUSB(const DeckControllerXmegaDevice::Handle& handle,
                                                   Family* owner)
    : VisibleDeckController(owner)
    , m_devicePtr(&m_device)
    , m_updaterPtr(&m_updater)
    , m_connectionPtr(&m_connection)
    , m_device(handle)
    , m_updater(&m_device)
    , m_connection(this)
    , m_updaterRef(&m_updater, [](DeviceFirmwareUpdater*) {})
    , m_pollTimer(new QTimer(this))
{
    m_device.setDelegate(this);
    if (owner)
        connect(owner, qOverload<VisibleDevice*>(&Family::deviceRemoved), this,
                &VisibleDeckControllerUSB::onFamilyDeviceRemoved);
    connect(m_pollTimer, &QTimer::timeout, this, [this] { m_device.poll(); });
    m_pollTimer->start(kPollMs);
}

VisibleDeckControllerUSB::~VisibleDeckControllerUSB()
{
    std::fputs("destroying VisibleDeckControllerUSB\n", stdout);
    delete m_pollTimer;
    m_updaterRef.reset();
    // No device call may reach this half-destroyed object.
    m_device.setDelegate(nullptr);
}

void VisibleDeckControllerUSB::onFamilyDeviceRemoved(VisibleDevice* device)
{
    // Only a running update can fail; a unit that leaves while idle reports nothing.
    if (device == static_cast<VisibleDevice*>(this) && m_updater.isUpdating())
        m_updater.onCompletion(false);
}
