#pragma once

#include <cstdint>

namespace vexo {
namespace core {

// The format of the frames of one channel. For colour, bitsPerPixel counts the bits of
// each of the three values.
struct FrameFormat
{
    int width = 0;
    int height = 0;
    int bitsPerPixel = 8;
    bool gray = true;

    int channels() const { return gray ? 1 : 3; }

    // Bytes a camera transfers for `lines` lines, values packed without padding.
    std::uint64_t packedBytes(int lines) const
    {
        if (width <= 0 || lines <= 0 || bitsPerPixel <= 0)
            return 0;
        return static_cast<std::uint64_t>(lines) * static_cast<std::uint64_t>(width)
            * static_cast<std::uint64_t>(channels()) * static_cast<std::uint64_t>(bitsPerPixel) / 8;
    }

    bool operator==(const FrameFormat& o) const
    {
        return width == o.width && height == o.height && bitsPerPixel == o.bitsPerPixel && gray == o.gray;
    }
    bool operator!=(const FrameFormat& o) const { return !(*this == o); }
};

} // namespace core
} // namespace vexo
