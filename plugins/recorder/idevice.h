#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace CVN {
namespace DiskRecorder {

// Reference-counted base of every recorder device object. The count starts at 1, owned by
// whoever created the object; release() may come from the updater thread.
class IDevice
{
public:
    IDevice() = default;
    IDevice(const IDevice&) = delete;
    IDevice& operator=(const IDevice&) = delete;

    virtual ~IDevice();
    virtual std::uint32_t addRef();
    // Returns the new count; the object deletes itself at 0.
    virtual std::uint32_t release();
    // The unit answers and its application runs.
    virtual bool isConnected() = 0;
    virtual bool getProductId(std::uint16_t& productId) = 0;
    // The older recorder models, judged by product id; false when the id cannot be read.
    virtual bool isLegacy();
    // Back-ends that know the model overwrite `name`; others leave it as the caller made it.
    virtual void getName(std::string& name) = 0;

    static bool isLegacyProductId(std::uint16_t productId);

private:
    std::atomic<std::uint32_t> m_refCount{1};
};

} // namespace DiskRecorder
} // namespace CVN
