#include "platform/devicebroadcast.h"

#include "platform/bytereader.h"
#include "platform/bytewriter.h"

namespace Platform {

namespace {
constexpr size_t kNameOffset = 28;
constexpr size_t kHandleOffset = 16;
} // namespace

std::vector<uint8_t> DeviceBroadcast::encodeDeviceInterface(const Guid& classGuid,
                                                            const std::string& name)
{
    size_t size = kNameOffset + 2 * (name.size() + 1);
    if (size < kInterfaceFilterSize)
        size = kInterfaceFilterSize;
    std::vector<uint8_t> block(size, 0);
    ByteWriter w(block.data(), block.size());
    w.u32(0, uint32_t(size));
    w.u32(4, kDeviceInterface);
    classGuid.toBytes(block.data() + 12);
    for (size_t i = 0; i < name.size(); ++i)
        w.u16(kNameOffset + 2 * i, uint8_t(name[i]));
    return block;
}

std::vector<uint8_t> DeviceBroadcast::encodeHandle(uint64_t handle)
{
    std::vector<uint8_t> block(kHandleFilterSize, 0);
    ByteWriter w(block.data(), block.size());
    w.u32(0, kHandleFilterSize);
    w.u32(4, kHandle);
    w.u64(kHandleOffset, handle);
    return block;
}

bool DeviceBroadcast::parse(const void* data, size_t size, DeviceBroadcast* out)
{
    ByteReader whole(data, size);
    uint32_t declared = 0;
    uint32_t type = 0;
    if (!out || !whole.u32(0, &declared) || !whole.u32(4, &type) || declared > size)
        return false;
    // Only the bytes the header claims are read.
    ByteReader r(data, declared);
    DeviceBroadcast result;
    result.type = type;
    if (type == kDeviceInterface) {
        const uint8_t* guid = r.at(12, Guid::kSize);
        if (!guid)
            return false;
        result.classGuid = Guid::fromBytes(guid);
        for (size_t offset = kNameOffset;; offset += 2) {
            uint16_t unit = 0;
            if (!r.u16(offset, &unit))
                return false;
            if (unit == 0)
                break;
            if (unit >= 0x80)
                return false;
            result.name.push_back(char(unit));
        }
    } else if (type == kHandle) {
        if (declared < kHandleFilterSize || !r.u64(kHandleOffset, &result.handle))
            return false;
    } else {
        return false;
    }
    *out = std::move(result);
    return true;
}

} // namespace Platform
