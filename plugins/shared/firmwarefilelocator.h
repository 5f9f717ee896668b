#pragma once

#include <string>

// Finds a firmware package file: in this module's resources folder when the plug-in set one,
// else beside the program, and only when the file is there.
class FirmwareFileLocator
{
public:
    explicit FirmwareFileLocator(std::string fileName);

    // This module's resources folder; the plug-in's initialisation sets it once.
    static void setResourcesDirectory(const std::string& directory);
    static std::string resourcesDirectory();
    // Full path of the running program; empty when it cannot be had. Needs no application object.
    static std::string programPath();

    // Resolved on the first call and kept; empty when the file was not found.
    std::string firmwareFilePath();

    std::string path;
    std::string fileName;
};
