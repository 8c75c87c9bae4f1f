#include "frame/InstallationDirectory.h"

#include "frame/DynamicLibrary.h"
#include "frame/SpinLockVariableGuard.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vexo {
namespace tools {
namespace logging {

namespace {

// directoryLock guards directoryBuffer and directoryFound. Once found is set the buffer
// never changes again, so callers may read the returned text without the lock.
std::atomic<std::int32_t> directoryLock{0};
char directoryBuffer[installationPathSize];
bool directoryFound = false;

const char* const installationMarkers[] = {"bin", "dll", "Hardware Applets", "lib", "lib64"};

bool isInstallationMarker(const char* component)
{
    for (const char* marker : installationMarkers) {
        if (::strcasecmp(component, marker) == 0)
            return true;
    }
    return false;
}

// The file this library was loaded from, found through the address of one of its own
// variables. When the code is linked into a program instead, the loader
// reports the program's argv[0], which may be relative or a bare name found on PATH, so
// the kernel's path of the executable is taken there.
bool ownModulePath(char* path)
{
    Dl_info info{};
    link_map* module = nullptr;
    if (::dladdr1(static_cast<const void*>(directoryBuffer), &info, reinterpret_cast<void**>(&module), RTLD_DL_LINKMAP)
        == 0)
        return false;
    if (module && module->l_name && module->l_name[0] != '\0') {
        if (std::strlen(module->l_name) >= installationPathSize)
            return false;
        std::strcpy(path, module->l_name);
        return true;
    }
    const ssize_t length = ::readlink("/proc/self/exe", path, installationPathSize);
    if (length <= 0 || static_cast<std::size_t>(length) >= installationPathSize)
        return false;
    path[length] = '\0';
    return true;
}

} // namespace

bool cutToInstallationDirectory(char* path)
{
    char* p = std::strrchr(path, '/');
    if (!p || p == path)
        return false;
    // p is on a separator; each pass drops the component after it and looks at the one
    // before it.
    for (;;) {
        while (p > path && *p == '/')
            --p;
        if (*p == '/')
            return false; // only separators are left: the start is reached
        p[1] = '\0';
        while (p > path && *p != '/')
            --p;
        if (*p != '/')
            return false; // a relative first component has no parent to offer
        if (isInstallationMarker(p + 1)) {
            char* cut = p;
            while (cut > path && cut[-1] == '/')
                --cut;
            *cut = '\0';
            return true;
        }
    }
}

bool findInstallationDirectory(const char* modulePath, char* buffer)
{
    if (modulePath && std::strlen(modulePath) < installationPathSize) {
        std::strcpy(buffer, modulePath);
        if (cutToInstallationDirectory(buffer))
            return true;
    }

    const char* fromEnvironment = std::getenv("VEXODIR5_64");
    if (!fromEnvironment)
        fromEnvironment = std::getenv("VEXODIR5");
    if (!fromEnvironment)
        return false;
    std::strncpy(buffer, fromEnvironment, installationPathSize);
    buffer[installationPathSize - 1] = '\0';
    std::size_t length = std::strlen(buffer);
    while (length > 0 && buffer[length - 1] == '/')
        buffer[--length] = '\0';
    return true;
}

const char* installationDirectory()
{
    vexo::templates::platform::SpinLockVariableGuard guard(&directoryLock);
    if (directoryFound)
        return directoryBuffer;

    char modulePath[installationPathSize];
    if (!findInstallationDirectory(ownModulePath(modulePath) ? modulePath : nullptr, directoryBuffer))
        return nullptr;
    directoryFound = true;
    return directoryBuffer;
}

bool installedLibraryPath(const char* name, const char* directory, char* buffer)
{
    const int length = std::snprintf(buffer, installationPathSize, "%s/lib/lib%s.so", directory, name);
    return length >= 0 && static_cast<std::size_t>(length) < installationPathSize;
}

DynamicLibrary* loadInstalledLibrary(const char* name, const char* directory)
{
    if (!directory)
        directory = installationDirectory();
    if (!directory)
        return nullptr;
    char path[installationPathSize];
    if (!installedLibraryPath(name, directory, path))
        return nullptr;
    DynamicLibrary* library = new DynamicLibrary(path, false);
    if (!library->load()) {
        delete library;
        return nullptr;
    }
    return library;
}

} // namespace logging
} // namespace tools
} // namespace vexo
