#include "plugins/shared/firmwarefilelocator.h"

#include <mutex>
#include <utility>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One per module: every plug-in links its own copy of this library.
std::mutex g_mutex;
std::string g_resourcesDirectory;

bool isFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

FirmwareFileLocator::FirmwareFileLocator(std::string fileName)
    : fileName(std::move(fileName))
{
}

void FirmwareFileLocator::setResourcesDirectory(const std::string& directory)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_resourcesDirectory = directory;
}

std::string FirmwareFileLocator::resourcesDirectory()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_resourcesDirectory;
}

std::string FirmwareFileLocator::programPath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    // A full buffer may be a cut path.
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return {};
    return std::string(buffer, size_t(length));
}

std::string FirmwareFileLocator::firmwareFilePath()
{
    if (!path.empty())
        return path;
    const std::string resources = resourcesDirectory();
    if (!resources.empty()) {
        // The resources folder is trusted: the file is not looked for here.
        path = resources + "/" + fileName;
        return path;
    }
    const std::string program = programPath();
    const std::string::size_type slash = program.rfind('/');
    if (slash == std::string::npos)
        return path;
    std::string candidate = program.substr(0, slash + 1) + fileName;
    if (isFile(candidate))
        path = std::move(candidate);
    return path;
}
