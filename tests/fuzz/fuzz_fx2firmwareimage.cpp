// Walks an FX2 RAM image both ways and touches every byte a record hands out, so a record
// reaching past the image shows as an out-of-bounds read.
#include "usb/fx2/fx2firmwareimage.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using CVN::USB::Fx2FirmwareImage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // An exact-size copy, so reads past the end hit the sanitizer's redzone.
    std::vector<uint8_t> image(data, data + size);
    const uint8_t* base = image.empty() ? nullptr : image.data();
    unsigned sum = 0;
    for (auto walk : {Fx2FirmwareImage::ToEndRecord, Fx2FirmwareImage::ToImageEnd}) {
        Fx2FirmwareImage reader(base, image.size());
        Fx2FirmwareImage::Record record;
        uint64_t bytes = 0;
        while (reader.next(walk, &record)) {
            for (unsigned i = 0; i < record.length; ++i)
                sum += record.data[i];
            if (walk == Fx2FirmwareImage::ToEndRecord && record.type != 0)
                abort();
            bytes += record.length + 4u;
        }
        if (reader.malformed() == reader.done())
            abort(); // every walk ends one way
        if (walk == Fx2FirmwareImage::ToImageEnd) {
            const uint64_t total = Fx2FirmwareImage::bootImageSize(base, image.size());
            if (reader.malformed() ? total != 0 : total > bytes + 13)
                abort();
        }
        if (Fx2FirmwareImage::isWellFormed(base, image.size(), walk) == reader.malformed())
            abort();
    }
    return int(sum & 0);
}
