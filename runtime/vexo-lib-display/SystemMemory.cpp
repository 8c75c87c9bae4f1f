#include "vexo-lib-display/SystemMemory.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vexo {
namespace core {

namespace {

constexpr std::uint64_t unlimited = std::numeric_limits<std::uint64_t>::max();

// A whole decimal number, nothing else; false otherwise.
bool parseBytes(const char* text, std::uint64_t* out)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    *out = value;
    return true;
}

std::uint64_t memAvailableFromProc()
{
    std::FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return unlimited;
    std::uint64_t bytes = unlimited;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        unsigned long long kib = 0;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
            bytes = SystemMemory::product(kib, 1024);
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

} // namespace

std::uint64_t SystemMemory::available()
{
    std::uint64_t bytes = 0;
    if (parseBytes(std::getenv("VEXO_MEMORY_AVAILABLE"), &bytes))
        return bytes;
    return memAvailableFromProc();
}

std::string SystemMemory::describe(std::uint64_t bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    int unit = 0;
    std::uint64_t scale = 1024;
    while (unit < 5 && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    const std::uint64_t whole = bytes / scale;
    const std::uint64_t rest = bytes % scale;
    std::string text = std::to_string(whole);
    if (rest != 0) // tenths, cut: rest * 10 cannot overflow as rest < 2^60
        text += "." + std::to_string(rest * 10 / scale);
    return text + " " + units[unit];
}

std::uint64_t SystemMemory::product(std::uint64_t a, std::uint64_t b)
{
    if (a != 0 && b > unlimited / a)
        return unlimited;
    return a * b;
}

} // namespace core
} // namespace vexo
