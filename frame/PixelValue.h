#pragma once

#include <cstdint>
#include <string>

namespace vexo {
namespace core {

class FrameBuffer;

// One pixel of a frame buffer as the display shows it: one channel for gray, three (R, G,
// B) for colour, and the buffer's bit depth, which sets the number of hexadecimal digits.
// Whether the acquisition has written the pixel yet is the caller's question.
class PixelValue
{
public:
    // Reads (x, y). Outside the buffer every channel reads 0 and isValid() is false.
    PixelValue(const FrameBuffer& buffer, unsigned x, unsigned y);

    bool isValid() const;
    bool isGray() const;
    int bitsPerPixel() const;
    // 0: gray or red, 1: green, 2: blue. A gray pixel has 0 in the other two.
    std::uint64_t channel(int index) const;

    // The readout's layout: "0x0ff" or "255"; colour "(0xff,0x00,0x10)" or "(255,0,16)".
    std::string text(bool hex) const;
    // The layout drawn in a magnified pixel: the gray value, or "R: ..\nG: ..\nB: ..".
    std::string cellText(bool hex) const;

    // Hexadecimal digits for a value of that depth: one per started group of four bits.
    static int hexDigits(int bitsPerPixel);
    // "0x" and lower-case digits zero-filled to hexDigits(bitsPerPixel); or decimal.
    static std::string format(std::uint64_t value, int bitsPerPixel, bool hex);
    // A value of bitsPerPixel bits on the 8-bit scale 0..255: shifted up, or shifted down
    // rounding towards minus infinity (so negative values, e.g. of markers, stay ordered).
    // Nothing is clamped.
    static int toEightBitLevel(int value, int bitsPerPixel);

private:
    std::uint64_t values[3] = {0, 0, 0};
    int bits = 8;
    bool gray = true;
    bool valid = false;
};

} // namespace core
} // namespace vexo
