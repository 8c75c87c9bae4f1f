#pragma once

#include <cstddef>

namespace vexo {
namespace tools {
namespace logging {

class DynamicLibrary;

// Finding the runtime's installation, where the logging dispatcher lives.
//
// The installation is the parent of the first directory named bin, dll, Hardware
// Applets, lib or lib64 (in any letter case) on the path of this library, counted from
// the library upwards: /opt/vexo/lib/libvexo-lib-display-qt4.so gives /opt/vexo. When
// the path has none, the environment names it: VEXODIR5_64, else VEXODIR5, trailing
// '/' removed. Installed libraries are then at <installation>/lib/lib<name>.so.

// Paths are handled in buffers of this size, terminator included; longer ones fail.
constexpr std::size_t installationPathSize = 1024;

// The installation directory of this library, or null when none can be found. Found
// once per process and kept; a failed search is repeated by the next call. Any thread.
const char* installationDirectory();

// Cuts the file path in place down to its installation directory; false (path cut to
// an unspecified prefix) when no directory on it has one of the five names.
bool cutToInstallationDirectory(char* path);

// The search of installationDirectory() for a given module path (null: none known):
// the path first, the environment second. The result goes to buffer, which must hold
// installationPathSize characters; false when neither yields a directory.
bool findInstallationDirectory(const char* modulePath, char* buffer);

// <directory>/lib/lib<name>.so into buffer (installationPathSize characters); false,
// with nothing usable in the buffer, when it does not fit.
bool installedLibraryPath(const char* name, const char* directory, char* buffer);

// Loads lib<name>.so of the installation in directory (null: installationDirectory()).
// The result does not own the library, which therefore stays loaded. Null on failure.
DynamicLibrary* loadInstalledLibrary(const char* name, const char* directory);

} // namespace logging
} // namespace tools
} // namespace vexo
