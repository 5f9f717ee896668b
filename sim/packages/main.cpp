// pellworth-package: writes a firmware package from a manifest and/or directive lines, or
// re-signs an edited one.
#include "firmwarepackagemanifest.h"
#include "firmwarepackagewriter.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::fputs("usage: pellworth-package -o OUTPUT [-m MANIFEST]... [LINE]...\n"
               "       pellworth-package --resign FILE [-o OUTPUT]\n"
               "LINEs are manifest directives, e.g. \"package compression=zlib\".\n",
               stderr);
    return 2;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "pellworth-package: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string output;
    std::string resign;
    std::vector<std::string> manifests;
    std::vector<std::string> lines;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-o" && hasValue)
            output = argv[++i];
        else if (arg == "-m" && hasValue)
            manifests.push_back(argv[++i]);
        else if (arg == "--resign" && hasValue)
            resign = argv[++i];
        else if (arg == "-h" || arg == "--help" || (arg.size() > 1 && arg[0] == '-'))
            return usage();
        else
            lines.push_back(arg);
    }

    std::string error;
    if (!resign.empty()) {
        if (!manifests.empty() || !lines.empty())
            return usage();
        std::ifstream in(resign, std::ios::binary);
        if (!in)
            return fail("cannot open " + resign);
        FirmwarePackageWriter::Bytes file{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
        FirmwarePackageWriter::sign(file, FirmwarePackageWriter::projectKey());
        if (!FirmwarePackageWriter::writeFile(output.empty() ? resign : output, file, &error))
            return fail(error);
        return 0;
    }

    if (output.empty())
        return usage();
    FirmwarePackageWriter writer;
    for (const std::string& manifest : manifests) {
        if (!FirmwarePackageManifest::applyFile(manifest, writer, &error))
            return fail(error);
    }
    if (!FirmwarePackageManifest::apply(lines, ".", writer, &error))
        return fail("argument " + error);
    if (!writer.write(output, &error))
        return fail(error);
    return 0;
}
