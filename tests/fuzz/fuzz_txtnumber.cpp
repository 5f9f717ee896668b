// Arbitrary TXT data parsed as the host does, then every value read as a hexadecimal and a
// decimal number as a recorder's record is: a value either fails with a logic error or fits.
#include "discovery/records/bonjourinfo.h"
#include "plugins/webview/txtnumber.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace {

void read(uint16_t (*parse)(const std::string&), const std::string& value)
{
    try {
        const uint16_t number = parse(value);
        (void)number;
    } catch (const std::logic_error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BonjourInfo info;
    info.parseTxt(data, int(size));
    for (const auto& entry : info.txt) {
        read(txtHexadecimal16, entry.second);
        read(txtDecimal16, entry.second);
    }
    return 0;
}
