#include "vexo-camera/PixelFormatConverter.h"

#include "vexo-lib-display/FrameBuffer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vexo {
namespace core {

namespace {

struct Known
{
    std::uint32_t code;
    const char* name;
    int bits;
    bool gray;
    int bytesPerPixel;
    int bayer[4];
};

constexpr Known knownFormats[] = {
    {PixelFormatConverter::Mono8, "Mono8", 8, true, 1, {}},
    {PixelFormatConverter::Mono10, "Mono10", 10, true, 2, {}},
    {PixelFormatConverter::Mono12, "Mono12", 12, true, 2, {}},
    {PixelFormatConverter::Mono16, "Mono16", 16, true, 2, {}},
    {PixelFormatConverter::RGB8, "RGB8", 8, false, 3, {}},
    {PixelFormatConverter::BGR8, "BGR8", 8, false, 3, {}},
    {PixelFormatConverter::BayerRG8, "BayerRG8", 8, false, 1, {0, 1, 1, 2}},
    {PixelFormatConverter::BayerGR8, "BayerGR8", 8, false, 1, {1, 0, 2, 1}},
    {PixelFormatConverter::BayerGB8, "BayerGB8", 8, false, 1, {1, 2, 0, 1}},
    {PixelFormatConverter::BayerBG8, "BayerBG8", 8, false, 1, {2, 1, 1, 0}},
};

const Known* find(std::uint32_t code)
{
    for (const Known& k : knownFormats)
        if (k.code == code)
            return &k;
    return nullptr;
}

bool isBayer(std::uint32_t code)
{
    return code == PixelFormatConverter::BayerRG8 || code == PixelFormatConverter::BayerGR8
        || code == PixelFormatConverter::BayerGB8 || code == PixelFormatConverter::BayerBG8;
}

std::uint16_t littleEndian16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

PixelFormatConverter::PixelFormatConverter(std::uint32_t pixelFormat, int w, int h)
    : code(pixelFormat)
    , width(std::max(w, 0))
    , height(std::max(h, 0))
{
    format.width = width;
    format.height = height;
    if (const Known* k = find(code)) {
        format.bitsPerPixel = k->bits;
        format.gray = k->gray;
        bytesPerPixel = k->bytesPerPixel;
        std::copy(k->bayer, k->bayer + 4, bayer);
    }
}

bool PixelFormatConverter::isSupported() const
{
    return bytesPerPixel > 0;
}

std::string PixelFormatConverter::error() const
{
    if (isSupported())
        return std::string();
    std::string list;
    for (const Known& k : knownFormats)
        list += (list.empty() ? "" : ", ") + std::string(k.name);
    return "pixel format " + name(code) + " is not supported; the camera must send one of " + list;
}

FrameFormat PixelFormatConverter::frameFormat() const
{
    return format;
}

std::uint32_t PixelFormatConverter::pixelFormat() const
{
    return code;
}

std::size_t PixelFormatConverter::lineBytes() const
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel);
}

std::size_t PixelFormatConverter::imageBytes(std::size_t stride) const
{
    if (height == 0)
        return 0;
    return stride * static_cast<std::size_t>(height - 1) + lineBytes();
}

std::string PixelFormatConverter::name(std::uint32_t pixelFormat)
{
    if (const Known* k = find(pixelFormat))
        return k->name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(pixelFormat));
    return hex;
}

bool PixelFormatConverter::convert(const std::uint8_t* data, std::size_t size, std::size_t stride,
                                   FrameBuffer& target) const
{
    if (!isSupported() || target.width() != width || target.height() != height || target.isGray() != format.gray
        || target.bitsPerPixel() != format.bitsPerPixel || stride < lineBytes() || size < imageBytes(stride)
        || (!data && size > 0))
        return false;
    if (isBayer(code)) {
        demosaic(data, stride, target);
        return true;
    }
    const std::uint16_t mask = static_cast<std::uint16_t>((1u << format.bitsPerPixel) - 1);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = data + static_cast<std::size_t>(y) * stride;
        std::uint16_t* out = target.line(y);
        switch (code) {
        case Mono8:
        case RGB8:
            for (std::size_t i = 0, n = lineBytes(); i < n; ++i)
                out[i] = in[i];
            break;
        case BGR8:
            for (int x = 0; x < width; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
            break;
        case Mono16:
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            // The camera's words are little-endian like ours: the line is a plain copy.
            std::memcpy(out, in, lineBytes());
            break;
#endif
        default: // Mono10, Mono12 (and Mono16 on a big-endian host)
            for (int x = 0; x < width; ++x)
                out[x] = littleEndian16(in + 2 * x) & mask;
            break;
        }
    }
    return true;
}

void PixelFormatConverter::demosaic(const std::uint8_t* data, std::size_t stride, FrameBuffer& target) const
{
    const auto site = [this](int x, int y) { return bayer[(y & 1) * 2 + (x & 1)]; };
    const auto at = [data, stride](int x, int y) {
        return data[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)];
    };
    // Border pixels: the mean of whichever neighbours of each colour are inside.
    const auto border = [&](int x, int y, std::uint16_t* out) {
        int sum[3] = {0, 0, 0}, count[3] = {0, 0, 0};
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= width || ny >= height)
                    continue;
                sum[site(nx, ny)] += at(nx, ny);
                ++count[site(nx, ny)];
            }
        for (int c = 0; c < 3; ++c)
            out[c] = c == site(x, y) ? at(x, y)
                : count[c]           ? static_cast<std::uint16_t>((sum[c] + count[c] / 2) / count[c])
                                     : 0;
    };
    for (int y = 0; y < height; ++y) {
        std::uint16_t* out = target.line(y);
        if (y == 0 || y == height - 1 || width < 3) {
            for (int x = 0; x < width; ++x)
                border(x, y, out + 3 * x);
            continue;
        }
        const std::uint8_t* up = data + static_cast<std::size_t>(y - 1) * stride;
        const std::uint8_t* row = up + stride;
        const std::uint8_t* down = row + stride;
        border(0, y, out);
        for (int x = 1; x < width - 1; ++x) {
            std::uint16_t* px = out + 3 * x;
            const int own = site(x, y);
            const int across = site(x + 1, y); // colour of the left and right neighbours
            const int above = site(x, y + 1); // colour of the upper and lower neighbours
            px[own] = row[x];
            if (across == above) {
                // A red or blue site: green from the four beside it, the other colour
                // from the four diagonals.
                px[across] = static_cast<std::uint16_t>((row[x - 1] + row[x + 1] + up[x] + down[x] + 2) / 4);
                px[3 - own - across] =
                    static_cast<std::uint16_t>((up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1] + 2) / 4);
            } else {
                // A green site: one colour from its row, the other from its column.
                px[across] = static_cast<std::uint16_t>((row[x - 1] + row[x + 1] + 1) / 2);
                px[above] = static_cast<std::uint16_t>((up[x] + down[x] + 1) / 2);
            }
        }
        border(width - 1, y, out + 3 * (width - 1));
    }
}

} // namespace core
} // namespace vexo
