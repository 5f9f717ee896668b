#include "usb/driver/cusbinterfaceiterator.h"

#include "usb/driver/cusbdevice.h"
#include "usb/driver/cusbinterface.h"

#include <new>

namespace CVN {
namespace USB {

CUSBInterfaceIterator::CUSBInterfaceIterator(CUSBDevice* device, std::vector<uint32_t> interfaceIds)
    : m_device(device)
    , m_ids(std::move(interfaceIds))
{
    m_device->AddRef();
}

CUSBInterfaceIterator::~CUSBInterfaceIterator()
{
    m_device->Release();
}

uint32_t CUSBInterfaceIterator::AddRef()
{
    return ++m_refs;
}

uint32_t CUSBInterfaceIterator::Release()
{
    const uint32_t count = --m_refs;
    if (count == 0)
        delete this;
    return count;
}

bool CUSBInterfaceIterator::next(IUSBInterface** interface)
{
    if (!interface || m_next >= m_ids.size())
        return false;
    auto* made = new (std::nothrow) CUSBInterface(m_device, m_ids[m_next]);
    *interface = made;
    if (!made)
        return false;
    ++m_next;
    return true;
}

} // namespace USB
} // namespace CVN
