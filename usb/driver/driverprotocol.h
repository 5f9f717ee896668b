#pragma once

#include "platform/guid.h"

#include <cstdint>

namespace CVN {
namespace USB {

// The kernel driver's device-interface class.
constexpr Platform::Guid kCVNUsbDriverClass = {
    0xB8719EFC, 0x9A7F, 0x400F, {0xB2, 0xAF, 0x28, 0x59, 0x13, 0xFB, 0xCE, 0xCC}};

// The driver's I/O control functions; the code is device type 0x22, buffered, any access.
namespace DriverFunction {
constexpr uint32_t kHandshake = 0x800;
constexpr uint32_t kLastUsbStatus = 0x817;
constexpr uint32_t kControlTransfer = 0x820;
constexpr uint32_t kDeviceByte823 = 0x823;
constexpr uint32_t kConfigurationDescriptor = 0x824;
constexpr uint32_t kDeviceByte825 = 0x825;
constexpr uint32_t kProductId = 0x826;
constexpr uint32_t kDeviceByte827 = 0x827;
constexpr uint32_t kDeviceWord828 = 0x828; // bcdDevice
constexpr uint32_t kDeviceByte82A = 0x82A;
constexpr uint32_t kVendorId = 0x82B;
constexpr uint32_t kConfigurationCount = 0x82D;
constexpr uint32_t kSelectConfiguration = 0x82E;
constexpr uint32_t kInterfaceList = 0x82F;
constexpr uint32_t kInterfaceClass = 0x830;
constexpr uint32_t kInterfaceNumber = 0x831;
constexpr uint32_t kInterfaceByte832 = 0x832; // subclass
constexpr uint32_t kInterfaceByte833 = 0x833; // protocol
constexpr uint32_t kEndpointCount = 0x834;
constexpr uint32_t kPipeProperties = 0x835;
constexpr uint32_t kWritePipe = 0x836;
constexpr uint32_t kReadPipe = 0x837;
constexpr uint32_t kResetDevice = 0x838;
constexpr uint32_t kWritePipeAsync = 0x839;
constexpr uint32_t kReadPipeAsync = 0x83A;
constexpr uint32_t kResetPipe = 0x83B;
constexpr uint32_t kDeviceByte83C = 0x83C; // iSerialNumber
constexpr uint32_t kSetDriverOption = 0x83D;
constexpr uint32_t kClaimInterface = 0x83E;
constexpr uint32_t kReleaseInterface = 0x83F;
} // namespace DriverFunction

constexpr uint32_t driverCode(uint32_t function)
{
    return 0x220000u | (function << 2);
}

constexpr uint32_t kControlTransferHeaderSize = 20;
constexpr uint32_t kPipeTransferBlockSize = 16;

} // namespace USB
} // namespace CVN
