#include "frame/PixelValue.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>

namespace vexo {
namespace core {

PixelValue::PixelValue(const FrameBuffer& buffer, unsigned x, unsigned y)
    : bits(buffer.bitsPerPixel())
    , gray(buffer.isGray())
{
    valid = gray ? buffer.getPixelValueGray(x, y, &values[0])
                 : buffer.getPixelValueColor(x, y, &values[0], &values[1], &values[2]);
    if (!valid)
        values[0] = values[1] = values[2] = 0;
}

bool PixelValue::isValid() const
{
    return valid;
}

bool PixelValue::isGray() const
{
    return gray;
}

int PixelValue::bitsPerPixel() const
{
    return bits;
}

std::uint64_t PixelValue::channel(int index) const
{
    return index >= 0 && index < 3 ? values[index] : 0;
}

std::string PixelValue::text(bool hex) const
{
    if (gray)
        return format(values[0], bits, hex);
    return '(' + format(values[0], bits, hex) + ',' + format(values[1], bits, hex) + ',' + format(values[2], bits, hex)
        + ')';
}

std::string PixelValue::cellText(bool hex) const
{
    if (gray)
        return format(values[0], bits, hex);
    return "R: " + format(values[0], bits, hex) + "\nG: " + format(values[1], bits, hex)
        + "\nB: " + format(values[2], bits, hex);
}

int PixelValue::hexDigits(int bitsPerPixel)
{
    return bitsPerPixel / 4 + (bitsPerPixel % 4 != 0 ? 1 : 0);
}

std::string PixelValue::format(std::uint64_t value, int bitsPerPixel, bool hex)
{
    if (!hex)
        return std::to_string(value);
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789abcdef"[value & 0xf]);
        value >>= 4;
    } while (value != 0);
    const std::size_t width = static_cast<std::size_t>(std::max(hexDigits(bitsPerPixel), 0));
    if (digits.size() < width)
        digits.insert(0, width - digits.size(), '0');
    return "0x" + digits;
}

int PixelValue::toEightBitLevel(int value, int bitsPerPixel)
{
    if (bitsPerPixel < 8)
        return value * (1 << (8 - bitsPerPixel));
    if (bitsPerPixel > 8) {
        // Arithmetic shift, written out so a negative value rounds towards minus infinity
        // on every compiler.
        const int shift = bitsPerPixel - 8;
        return value >= 0 ? value >> shift : ~(~value >> shift);
    }
    return value;
}

} // namespace core
} // namespace vexo
