#include "firmwarepackagemanifest.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

namespace {

using Bytes = FirmwarePackageWriter::Bytes;

// Decimal or 0x hexadecimal, no sign, at most max.
bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* out)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits[0] == '-' || digits[0] == '+' || digits[0] == ' ')
        return false;
    try {
        std::size_t used = 0;
        *out = std::stoull(digits, &used, hex ? 16 : 10);
        return used == digits.size() && *out <= max;
    } catch (const std::exception&) {
        return false;
    }
}

// key=value words of one line, each to be used once.
class Arguments
{
public:
    bool parse(std::istringstream& words, std::string* error)
    {
        std::string word;
        while (words >> word) {
            const std::size_t equals = word.find('=');
            if (equals == std::string::npos || equals == 0) {
                *error = "expected key=value, got \"" + word + "\"";
                return false;
            }
            if (!m_values.emplace(word.substr(0, equals), word.substr(equals + 1)).second) {
                *error = "\"" + word.substr(0, equals) + "\" given twice";
                return false;
            }
        }
        return true;
    }

    bool has(const std::string& key) const { return m_values.count(key) != 0; }

    std::string take(const std::string& key)
    {
        auto it = m_values.find(key);
        std::string value = it->second;
        m_values.erase(it);
        return value;
    }

    template<typename T> bool number(const std::string& key, T* out, std::string* error)
    {
        if (!has(key))
            return true;
        const std::string text = take(key);
        unsigned long long value = 0;
        if (!parseNumber(text, std::numeric_limits<T>::max(), &value)) {
            *error = "bad value for " + key + ": \"" + text + "\"";
            return false;
        }
        *out = T(value);
        return true;
    }

    template<typename T>
    bool optionalNumber(const std::string& key, std::optional<T>* out, std::string* error)
    {
        if (!has(key))
            return true;
        T value{};
        if (!number(key, &value, error))
            return false;
        *out = value;
        return true;
    }

    bool finish(std::string* error) const
    {
        if (m_values.empty())
            return true;
        *error = "unknown key \"" + m_values.begin()->first + "\"";
        return false;
    }

private:
    std::map<std::string, std::string> m_values;
};

bool readFile(const std::string& path, Bytes* out, std::string* error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

bool hexBytes(const std::string& text, Bytes* out, std::string* error)
{
    auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    if (text.size() % 2 != 0) {
        *error = "odd number of hex digits";
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0) {
            *error = "bad hex digits \"" + text + "\"";
            return false;
        }
        out->push_back(std::uint8_t(high << 4 | low));
    }
    return true;
}

// Reproducible incompressible bytes (splitmix64), so generated packages are the same each build.
void randomBytes(std::uint64_t seed, std::uint32_t size, Bytes* out)
{
    std::uint64_t state = seed;
    for (std::uint32_t i = 0; i < size; i += 8) {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        for (std::uint32_t j = 0; j < 8 && i + j < size; ++j)
            out->push_back(std::uint8_t(z >> (8 * j)));
    }
}

bool source(Arguments& args, const std::string& baseDirectory, Bytes* out, std::string* error)
{
    Bytes bytes;
    if (args.has("file")) {
        std::string path = args.take("file");
        if (!path.empty() && path[0] != '/' && !baseDirectory.empty())
            path = baseDirectory + "/" + path;
        if (!readFile(path, &bytes, error))
            return false;
    } else if (args.has("hex")) {
        if (!hexBytes(args.take("hex"), &bytes, error))
            return false;
    } else if (args.has("text")) {
        const std::string text = args.take("text");
        bytes.assign(text.begin(), text.end());
    } else if (args.has("fill") || args.has("random")) {
        const bool fill = args.has("fill");
        std::uint64_t value = 0;
        std::uint32_t size = 0;
        if (!args.number(fill ? "fill" : "random", &value, error) ||
            !args.number("size", &size, error))
            return false;
        if (fill && value > 0xFF) {
            *error = "fill is one byte";
            return false;
        }
        if (fill)
            bytes.assign(size, std::uint8_t(value));
        else
            randomBytes(value, size, &bytes);
    } else {
        *error = "no source: give file=, hex=, text=, fill= or random=";
        return false;
    }
    out->insert(out->end(), bytes.begin(), bytes.end());
    return true;
}

bool package(Arguments& args, FirmwarePackageWriter::Package& package, std::string* error)
{
    if (args.has("compression")) {
        const std::string compression = args.take("compression");
        if (compression == "stored") {
            package.compression = 0;
        } else if (compression == "zlib") {
            package.compression = 1;
        } else {
            // Any other byte is written as it stands, the payload kept as given.
            unsigned long long value = 0;
            if (!parseNumber(compression, 0xFF, &value)) {
                *error = "bad value for compression: \"" + compression + "\"";
                return false;
            }
            package.compression = value == 1 ? 1 : 0;
            package.compressionByte = std::uint8_t(value);
        }
    }
    return args.number("flags", &package.flags, error) &&
           args.number("wordA", &package.wordA, error) &&
           args.number("wordB", &package.wordB, error) &&
           args.number("level", &package.level, error) &&
           args.optionalNumber("magic", &package.magic, error) &&
           args.optionalNumber("headerSize", &package.headerSize, error) &&
           args.optionalNumber("packageLength", &package.packageLength, error) &&
           args.optionalNumber("uncompressedSize", &package.uncompressedSize, error);
}

bool descriptor(Arguments& args, FirmwarePackageWriter::Descriptor& descriptor, std::string* error)
{
    std::optional<std::uint16_t> product;
    if (!args.optionalNumber("product", &product, error))
        return false;
    if (product)
        descriptor = FirmwarePackageWriter::Descriptor::firmware(*product);
    return args.number("type", &descriptor.type, error) &&
           args.number("length", &descriptor.length, error) &&
           args.optionalNumber("lengthField", &descriptor.lengthField, error) &&
           args.number("address", &descriptor.loadAddress, error) &&
           args.number("region", &descriptor.region, error) &&
           args.number("target", &descriptor.target, error) &&
           args.number("resourceType", &descriptor.resourceType, error) &&
           args.number("resourceId", &descriptor.resourceId, error) &&
           args.number("wordC", &descriptor.wordC, error) &&
           args.number("halfD", &descriptor.halfD, error);
}

bool applyLine(const std::string& line, const std::string& baseDirectory,
               FirmwarePackageWriter& writer, std::string* error)
{
    std::istringstream words(line.substr(0, line.find('#')));
    std::string directive;
    if (!(words >> directive))
        return true;
    Arguments args;
    if (!args.parse(words, error))
        return false;

    auto& packages = writer.packages();
    const bool needsPackage =
        directive == "payload" || directive == "stored" || directive == "descriptor";
    if (needsPackage && packages.empty()) {
        *error = directive + " before the first package";
        return false;
    }

    bool ok = false;
    if (directive == "key") {
        Bytes key;
        ok = args.has("hex") && hexBytes(args.take("hex"), &key, error);
        if (ok)
            writer.setKey(key);
        else if (error->empty())
            *error = "key needs hex=";
    } else if (directive == "package") {
        ok = package(args, writer.addPackage(), error);
    } else if (directive == "payload") {
        ok = source(args, baseDirectory, &packages.back().payload, error);
    } else if (directive == "stored") {
        auto& stored = packages.back().stored;
        if (!stored)
            stored.emplace();
        ok = source(args, baseDirectory, &*stored, error);
    } else if (directive == "descriptor") {
        ok = descriptor(args, packages.back().descriptors.emplace_back(), error);
    } else if (directive == "trailing") {
        ok = source(args, baseDirectory, &writer.trailing(), error);
    } else {
        *error = "unknown directive \"" + directive + "\"";
    }
    return ok && args.finish(error);
}

} // namespace

bool FirmwarePackageManifest::apply(const std::vector<std::string>& lines,
                                    const std::string& baseDirectory, FirmwarePackageWriter& writer,
                                    std::string* error)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string message;
        if (!applyLine(lines[i], baseDirectory, writer, &message)) {
            if (error)
                *error = "line " + std::to_string(i + 1) + ": " + message;
            return false;
        }
    }
    return true;
}

bool FirmwarePackageManifest::applyFile(const std::string& path, FirmwarePackageWriter& writer,
                                        std::string* error)
{
    std::ifstream in(path);
    if (!in) {
        if (error)
            *error = "cannot open " + path;
        return false;
    }
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? std::string(".") : path.substr(0, slash);
    if (!apply(lines, base, writer, error)) {
        if (error)
            *error = path + ": " + *error;
        return false;
    }
    return true;
}
