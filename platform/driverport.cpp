#include "platform/driverport.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace Platform {

namespace {

std::atomic<DriverPort*> s_override{nullptr};

DriverPort* loadBackend()
{
    const char* backend = std::getenv("PELLWORTH_USB_BACKEND");
    if (!backend || std::strcmp(backend, "sim") != 0)
        return nullptr;
    // Found through the module's run path; already loaded when a test links it.
    void* library = dlopen("libpellworthusbbus.so", RTLD_NOW | RTLD_GLOBAL);
    if (!library)
        return nullptr;
    using Entry = DriverPort* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(library, "pellworth_usbbus_driver_port"));
    return entry ? entry() : nullptr;
}

} // namespace

DriverPort* driverPort()
{
    if (DriverPort* port = s_override.load())
        return port;
    static DriverPort* const backend = loadBackend();
    return backend;
}

void setDriverPortOverride(DriverPort* port)
{
    s_override.store(port);
}

} // namespace Platform
