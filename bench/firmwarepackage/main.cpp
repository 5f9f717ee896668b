// Times reading a 16 MiB firmware package (digest check, walk, payload copy and inflate)
// beside sha256sum of the same file, with the file in the page cache for both.
#include "usb/firmware/firmwarepackage.h"

#include "firmwarepackagewriter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = FirmwarePackageWriter::Bytes;

constexpr std::uint32_t kImageSize = 16u << 20;
constexpr std::uint16_t kProduct = 0xC34C;
constexpr int kRounds = 15;

double medianMs(const std::function<bool()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        const auto start = Clock::now();
        if (!run()) {
            std::fprintf(stderr, "run failed\n");
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

Bytes image(bool compressible)
{
    Bytes bytes(kImageSize);
    std::uint64_t state = 0x243F6A8885A308D3ull;
    for (std::size_t i = 0; i < bytes.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (int j = 0; j < 8; ++j) {
            // Firmware-like: mostly small values, so zlib has something to do.
            const std::uint8_t random = std::uint8_t(state >> (8 * j));
            bytes[i + j] = compressible ? std::uint8_t(random & 0x0F) : random;
        }
    }
    return bytes;
}

bool readPackage(const std::string& path)
{
    FirmwarePackage reader;
    reader.setPath(path);
    FirmwarePackageEntryList list;
    if (reader.readEntries(1, FirmwarePackageWriter::kVendorResourceId | kProduct, list) != 0 ||
        list.empty())
        return false;
    std::uint64_t total = 0;
    for (auto& entry : list)
        total += entry->data() ? entry->size() : 0;
    return total == kImageSize;
}

bool sha256sum(const std::string& path)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", 1 /* O_WRONLY */, 0);
    char* argv[] = {const_cast<char*>("sha256sum"), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "sha256sum", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void compare(const char* name, const std::string& path)
{
    readPackage(path); // page cache and allocator warm for both sides
    const double reader = medianMs([&] { return readPackage(path); });
    const double reference = medianMs([&] { return sha256sum(path); });
    std::printf("%-28s reader %8.2f ms   sha256sum %8.2f ms   ratio %.2fx\n", name, reader,
                reference, reader / reference);
}

} // namespace

int main()
{
    char directory[] = "/tmp/bench_firmwarepackage.XXXXXX";
    if (!mkdtemp(directory))
        return 1;
    const std::string stored = std::string(directory) + "/stored.bin";
    const std::string zlib = std::string(directory) + "/zlib.bin";

    FirmwarePackageWriter writer;
    FirmwarePackageWriter::Package& package = writer.addPackage();
    package.payload = image(false);
    package.descriptors.push_back(FirmwarePackageWriter::Descriptor::firmware(kProduct));
    std::string error;
    bool ok = writer.write(stored, &error);
    package.payload = image(true);
    package.compression = 1;
    package.level = 6;
    ok = ok && writer.write(zlib, &error);
    if (!ok) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    std::printf("median of %d runs; reader = verify digest, walk, copy and inflate payloads\n",
                kRounds);
    compare("16 MiB stored package", stored);
    compare("16 MiB image, zlib package", zlib);

    std::remove(stored.c_str());
    std::remove(zlib.c_str());
    rmdir(directory);
    return 0;
}
