// Times reading a 16 MiB firmware package (digest check, walk and inflate) beside sha256sum of
// the same file, and beside the in-process floor: one OpenSSL SHA-256 pass over the file plus
// the fastest inflate of the payload alone into a warm buffer. The file is in the page cache
// for every side.
#include "usb/firmware/firmwarepackage.h"

#include "firmwarepackagewriter.h"

#include <isa-l/igzip_lib.h>
#include <openssl/evp.h>
#include <zlib.h>
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = FirmwarePackageWriter::Bytes;

constexpr std::uint32_t kImageSize = 16u << 20;
constexpr std::uint16_t kProduct = 0xC34C;
constexpr int kRounds = 31;
constexpr std::size_t kReadPiece = 1u << 20;
constexpr double kGoalAgainstFloor = 1.15;

using Way = std::pair<const char*, std::function<bool()>>;

// Median time of each way, the ways taking turns round by round so that a change in the
// machine's load falls on all of them alike.
std::vector<double> medianMs(const std::vector<Way>& ways)
{
    std::vector<std::vector<double>> times(ways.size());
    for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < ways.size(); ++i) {
            const auto start = Clock::now();
            if (!ways[i].second()) {
                std::fprintf(stderr, "%s failed\n", ways[i].first);
                std::exit(1);
            }
            times[i].push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    std::vector<double> medians;
    for (auto& each : times) {
        std::sort(each.begin(), each.end());
        medians.push_back(each[each.size() / 2]);
    }
    return medians;
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

bool readList(const std::string& path, bool headersOnly, FirmwarePackageEntryList& list)
{
    FirmwarePackage reader;
    reader.setPath(path);
    return reader.read(1, FirmwarePackageWriter::kVendorResourceId | kProduct, list, headersOnly) ==
               0 &&
           !list.empty();
}

bool readPackage(const std::string& path)
{
    FirmwarePackageEntryList list;
    if (!readList(path, false, list))
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

// SHA-256 of the file the fastest way at hand: read in 1 MiB pieces into one reused buffer,
// or hashed straight from a read-only mapping.
bool sha256Read(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    static std::vector<std::uint8_t> piece(kReadPiece);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    bool ok = context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
    for (;;) {
        const ssize_t got = ::read(fd, piece.data(), piece.size());
        if (got <= 0) {
            ok = ok && got == 0;
            break;
        }
        ok = ok && EVP_DigestUpdate(context, piece.data(), std::size_t(got)) == 1;
    }
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    ok = ok && EVP_DigestFinal_ex(context, digest, &length) == 1;
    EVP_MD_CTX_free(context);
    ::close(fd);
    return ok;
}

bool sha256Mapped(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const std::size_t size = std::size_t(info.st_size);
    void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED)
        return false;
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool ok = EVP_Digest(mapped, size, digest, &length, EVP_sha256(), nullptr) == 1;
    ::munmap(mapped, size);
    return ok;
}

// The payload alone, inflated into a buffer that is already faulted in.
std::vector<Way> inflaters(const Bytes& stream, std::uint32_t size)
{
    static Bytes output;
    output.assign(size, 0);
    std::vector<Way> ways;
    ways.emplace_back("ISA-L", [&stream, size] {
        auto state = std::make_unique<inflate_state>();
        isal_inflate_init(state.get());
        state->crc_flag = ISAL_ZLIB;
        state->next_in = const_cast<std::uint8_t*>(stream.data());
        state->avail_in = std::uint32_t(stream.size());
        state->next_out = output.data();
        state->avail_out = size;
        return isal_inflate_stateless(state.get()) == ISAL_DECOMP_OK && state->avail_out == 0;
    });
#ifdef HAVE_LIBDEFLATE
    ways.emplace_back("libdeflate", [&stream, size] {
        libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
        const bool ok = decompressor && libdeflate_zlib_decompress(
                                            decompressor, stream.data(), stream.size(),
                                            output.data(), size, nullptr) == LIBDEFLATE_SUCCESS;
        libdeflate_free_decompressor(decompressor);
        return ok;
    });
#endif
    ways.emplace_back("zlib", [&stream, size] {
        uLongf length = size;
        return uncompress(output.data(), &length, stream.data(), uLong(stream.size())) == Z_OK &&
               length == size;
    });
    return ways;
}

Bytes payloadStream(const std::string& path)
{
    // One package with one descriptor: its payload runs to the end of the file.
    FirmwarePackageEntryList list;
    if (!readList(path, true, list) || list.size() != 1)
        return {};
    const std::uint32_t stored = list[0]->storedSize();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    Bytes stream(stored);
    const bool ok =
        fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size >= off_t(stored) &&
        ::pread(fd, stream.data(), stored, info.st_size - off_t(stored)) == off_t(stored);
    if (fd >= 0)
        ::close(fd);
    return ok ? stream : Bytes();
}

// The fastest of ways[from, to): its index.
std::size_t fastest(const std::vector<double>& ms, std::size_t from, std::size_t to)
{
    return std::size_t(std::min_element(ms.begin() + long(from), ms.begin() + long(to)) -
                       ms.begin());
}

void compare(const char* name, const std::string& path, bool compressed, double goal)
{
    Bytes stream;
    if (compressed) {
        stream = payloadStream(path);
        if (stream.empty()) {
            std::fprintf(stderr, "%s: payload not found\n", name);
            std::exit(1);
        }
    }
    std::vector<Way> ways = {{"reader", [&] { return readPackage(path); }},
                             {"sha256sum", [&] { return sha256sum(path); }},
                             {"read", [&] { return sha256Read(path); }},
                             {"mapped", [&] { return sha256Mapped(path); }}};
    if (compressed) {
        for (Way& way : inflaters(stream, kImageSize))
            ways.push_back(std::move(way));
    }
    for (const Way& way : ways)
        way.second(); // page cache and allocator warm for every side
    const std::vector<double> ms = medianMs(ways);

    const double reader = ms[0];
    const double reference = ms[1];
    const std::size_t hash = fastest(ms, 2, 4);
    double floor = ms[hash];
    std::printf("%s\n", name);
    std::printf("  reader %7.2f ms   sha256sum %7.2f ms   ratio %.2fx (goal <= %.2fx)\n", reader,
                reference, reader / reference, goal);
    std::printf("  floor: SHA-256 (%s) %.2f ms", ways[hash].first, ms[hash]);
    if (compressed) {
        const std::size_t inflate = fastest(ms, 4, ms.size());
        floor += ms[inflate];
        std::printf(" + inflate (%s) %.2f ms", ways[inflate].first, ms[inflate]);
        for (std::size_t i = 4; i < ms.size(); ++i)
            std::printf("%s%s %.2f", i == 4 ? "   [inflaters: " : ", ", ways[i].first, ms[i]);
        std::printf(" ms]");
    }
    std::printf("\n  reader/floor %.2fx = %.2f / %.2f ms (goal <= %.2fx)\n", reader / floor, reader,
                floor, kGoalAgainstFloor);
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

    std::printf("median of %d runs; reader = verify digest, walk and inflate payloads\n", kRounds);
    compare("16 MiB stored package", stored, false, 0.5);
    compare("16 MiB image, zlib package", zlib, true, 1.0);

    std::remove(stored.c_str());
    std::remove(zlib.c_str());
    rmdir(directory);
    return 0;
}
