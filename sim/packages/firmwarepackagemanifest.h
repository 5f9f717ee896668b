#pragma once

#include "firmwarepackagewriter.h"

#include <string>
#include <vector>

// The text form of a package file, one directive per line, for build scripts:
//
//   # comment
//   key hex=<40 hex digits>                 sign with another key
//   package compression=stored|zlib|<n> flags=<n> wordA=<n> wordB=<n> level=<0-9>
//           [magic= headerSize= packageLength= uncompressedSize=]   (overrides)
//   payload <source>                        appended to the current package's image
//   stored <source>                         raw payload bytes written instead of the image
//   descriptor product=<id> target= region= address= type= length= resourceType=
//              resourceId= wordC= halfD= lengthField=
//   trailing <source>                       bytes after the last package
//
// A source is file=<path> (relative to the manifest), hex=<digits>, text=<word>,
// fill=<byte> size=<n> or random=<seed> size=<n>. Numbers are decimal or 0x hexadecimal.
class FirmwarePackageManifest
{
public:
    // Applies lines to writer; false with "line N: ..." in error on the first bad line.
    static bool apply(const std::vector<std::string>& lines, const std::string& baseDirectory,
                      FirmwarePackageWriter& writer, std::string* error);
    static bool applyFile(const std::string& path, FirmwarePackageWriter& writer,
                          std::string* error);
};
