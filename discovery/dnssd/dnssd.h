#pragma once

#include <cstdint>

// The DNS-SD result codes and flags the discovery layer speaks, whatever runs underneath.
typedef int32_t DNSServiceErrorType;

enum : DNSServiceErrorType {
    kDNSServiceErr_NoError = 0,
    kDNSServiceErr_Unknown = -65537,
    kDNSServiceErr_BadParam = -65540,
    kDNSServiceErr_Timeout = -65568,
};

// Set on an answer that adds a result, clear on one that withdraws it.
enum : uint32_t { kDNSServiceFlagsAdd = 0x2 };

// Interface index 0: every interface.
enum : uint32_t { kDNSServiceInterfaceIndexAny = 0 };
