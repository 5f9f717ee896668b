// pellworth-deck-image: writes a processor image the simulated deck controller boots, for the
// firmware package the plug-in carries.
#include "sim/deckcontroller/zynqbootimage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fputs("usage: pellworth-deck-image OUTPUT SIZE SEED\n", stderr);
        return 2;
    }
    const size_t size = std::strtoul(argv[2], nullptr, 0);
    const uint32_t seed = uint32_t(std::strtoul(argv[3], nullptr, 0));
    if (size < 76) {
        std::fputs("pellworth-deck-image: an image holds at least its 76-byte header\n", stderr);
        return 2;
    }
    const std::vector<uint8_t> image = Sim::ZynqBootImage::make(size, seed);
    FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::fprintf(stderr, "pellworth-deck-image: cannot write %s\n", argv[1]);
        return 1;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "pellworth-deck-image: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
