#pragma once

#include <utility>

namespace WebViewUsb {

// Holds one reference on a reference-counted object of the USB layer (device, interface,
// iterator) and drops it when it goes.
template<class T> class UsbRef
{
public:
    UsbRef() = default;
    ~UsbRef() { reset(); }

    UsbRef(const UsbRef&) = delete;
    UsbRef& operator=(const UsbRef&) = delete;
    UsbRef(UsbRef&& other) noexcept
        : m_object(std::exchange(other.m_object, nullptr))
    {
    }
    UsbRef& operator=(UsbRef&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }

    // Takes over the caller's reference.
    static UsbRef adopt(T* object)
    {
        UsbRef ref;
        ref.m_object = object;
        return ref;
    }
    // Takes a reference of its own.
    static UsbRef share(T* object)
    {
        if (object)
            object->AddRef();
        return adopt(object);
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Hands the reference to the caller.
    T* release() { return std::exchange(m_object, nullptr); }
    // Drops the reference; the count left, or 0 when there was none.
    unsigned reset()
    {
        T* object = std::exchange(m_object, nullptr);
        return object ? unsigned(object->Release()) : 0u;
    }

private:
    T* m_object = nullptr;
};

} // namespace WebViewUsb
