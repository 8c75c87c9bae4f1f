#pragma once

#include "vexo-lib-display/FrameFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexo {
namespace core {

class FrameBuffer;

// Turns a camera's image of one pixel format (a GenICam PFNC code) into a frame buffer
// of the scene, in one pass over the camera's bytes.
//
// Mono8, Mono10, Mono12 and Mono16 become gray buffers of 8, 10, 12 and 16 bits (the
// 10- and 12-bit formats come in 16-bit little-endian words; bits above the depth are
// cleared, so no value exceeds it); RGB8 and BGR8 become 8-bit colour. The 8-bit Bayer
// formats are demosaiced to 8-bit colour by bilinear interpolation: a site keeps its own
// value, the missing ones are the mean of the nearest sites of that colour in its 3 x 3
// neighbourhood (at the border, of those inside the image). Any other format is refused.
class PixelFormatConverter
{
public:
    enum Code : std::uint32_t {
        Mono8 = 0x01080001,
        Mono10 = 0x01100003,
        Mono12 = 0x01100005,
        Mono16 = 0x01100007,
        RGB8 = 0x02180014,
        BGR8 = 0x02180015,
        BayerGR8 = 0x01080008,
        BayerRG8 = 0x01080009,
        BayerGB8 = 0x0108000A,
        BayerBG8 = 0x0108000B,
    };

    PixelFormatConverter(std::uint32_t pixelFormat, int width, int height);

    bool isSupported() const;
    // Why the format is refused; empty when it is supported.
    std::string error() const;
    // The frame format the images become.
    FrameFormat frameFormat() const;
    std::uint32_t pixelFormat() const;
    // Bytes of one image line from the camera, without padding.
    std::size_t lineBytes() const;
    // Bytes an image needs when its lines are `stride` bytes apart.
    std::size_t imageBytes(std::size_t stride) const;

    // Converts an image whose lines are `stride` bytes apart (at least lineBytes()) into
    // target, which must be of frameFormat(). False, with target untouched, when target
    // or size do not fit.
    bool convert(const std::uint8_t* data, std::size_t size, std::size_t stride, FrameBuffer& target) const;

    // The PFNC name of a code ("Mono8"), or its hexadecimal value when it has none here.
    static std::string name(std::uint32_t pixelFormat);

private:
    void demosaic(const std::uint8_t* data, std::size_t stride, FrameBuffer& target) const;

    std::uint32_t code;
    int width;
    int height;
    FrameFormat format;
    int bytesPerPixel = 0; // 0 while unsupported
    int bayer[4] = {0, 0, 0, 0}; // colour (0 R, 1 G, 2 B) of the 2 x 2 sites, row by row
};

} // namespace core
} // namespace vexo
