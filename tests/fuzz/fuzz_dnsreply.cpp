// Feeds arbitrary datagrams to the unicast reply parser, then hands its TXT data to the TXT
// parser as the info query does. The first two bytes double as the expected id, so inputs
// get past the id check as often as the mutator likes.
#include "discovery/dns/dnsmessage.h"
#include "discovery/dns/dnsreply.h"
#include "discovery/records/bonjourinfo.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint16_t expectedId = size >= 2 ? uint16_t(data[0] << 8 | data[1]) : 0;
    DNSReply reply;
    if (reply.parse(data, size, expectedId)) {
        BonjourInfo info;
        info.parseTxt(reply.txtData(), reply.txtLength());
        info.address = reply.serviceTarget();
        info.port = reply.servicePort();
        info.serviceName = reply.instanceName();
    }
    // Names anywhere in the input, as a record's data might start them.
    for (unsigned start = 0; start < size && start < 64; ++start) {
        unsigned position = start;
        std::string name;
        if (readName(data, size, &position, name) && (position > size || name.size() > 1024))
            __builtin_trap();
    }
    return 0;
}
