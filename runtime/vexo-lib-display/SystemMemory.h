#pragma once

#include <cstdint>
#include <string>

namespace vexo {
namespace core {

// How much memory the machine can give, and sizes of memory in words. The platform is
// asked here only, so a port changes this file alone.
class SystemMemory
{
public:
    // Bytes that can be allocated now without swapping: VEXO_MEMORY_AVAILABLE (a number
    // of bytes) when it is set, else MemAvailable from /proc/meminfo; the largest value
    // (no limit) when neither can be read. Any thread.
    static std::uint64_t available();

    // In binary units: "8 MiB", "127.9 MiB" (one decimal, cut rather than rounded so
    // that a shortfall never reads as enough), "512 bytes".
    static std::string describe(std::uint64_t bytes);

    // a * b, or the largest value where that would overflow.
    static std::uint64_t product(std::uint64_t a, std::uint64_t b);
};

} // namespace core
} // namespace vexo
