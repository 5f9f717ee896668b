#pragma once

#include <cstdint>

namespace CVN {
namespace USB {

class IUSBInterface;

// Walks the interfaces that matched a FindInterfaceRequest.
class IUSBInterfaceIterator
{
public:
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    // The next interface (one reference, the caller's), or false at the end.
    virtual bool next(IUSBInterface** interface) = 0;

protected:
    virtual ~IUSBInterfaceIterator() = default;
};

} // namespace USB
} // namespace CVN
