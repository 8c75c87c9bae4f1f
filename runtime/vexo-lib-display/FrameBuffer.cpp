#include "vexo-lib-display/FrameBuffer.h"

#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SystemMemory.h"
#include "vexo-lib-display/TiffWriter.h"

#include <algorithm>

namespace vexo {
namespace core {

namespace {

std::uint64_t packPosition(int x, int y)
{
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(y)) << 32) | static_cast<std::uint32_t>(x);
}

std::uint16_t toSample(std::uint64_t value)
{
    // Samples are 16 bits wide; values above that cannot be represented.
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(value, 0xffff));
}

} // namespace

FrameBuffer::FrameBuffer(int width, int height, int bitsPerPixel, bool isGrayBuffer)
    : imageWidth(std::max(width, 0))
    , imageHeight(std::max(height, 0))
    , bits(std::clamp(bitsPerPixel, 1, 16))
    , gray(isGrayBuffer)
    , samples(static_cast<std::size_t>(imageWidth) * static_cast<std::size_t>(imageHeight) * (isGrayBuffer ? 1u : 3u),
              0)
    , lastValid(packPosition(-1, -1))
{
}

FrameBuffer::~FrameBuffer() = default;

std::uint64_t FrameBuffer::bytesFor(int width, int height, bool isGrayBuffer)
{
    const std::uint64_t values = SystemMemory::product(static_cast<std::uint64_t>(std::max(width, 0))
                                                           * static_cast<std::uint64_t>(std::max(height, 0)),
                                                       isGrayBuffer ? 1 : 3);
    return SystemMemory::product(values, sizeof(std::uint16_t));
}

bool FrameBuffer::isGray() const
{
    return gray;
}

int FrameBuffer::bitsPerPixel() const
{
    return bits;
}

int FrameBuffer::channels() const
{
    return gray ? 1 : 3;
}

std::uint16_t* FrameBuffer::line(int y)
{
    if (y < 0 || y >= imageHeight)
        return nullptr;
    return samples.data() + static_cast<std::size_t>(y) * imageWidth * channels();
}

const std::uint16_t* FrameBuffer::line(int y) const
{
    return const_cast<FrameBuffer*>(this)->line(y);
}

bool FrameBuffer::setPixelValueGray(unsigned x, unsigned y, std::uint64_t value)
{
    if (!gray || x >= static_cast<unsigned>(imageWidth) || y >= static_cast<unsigned>(imageHeight))
        return false;
    line(static_cast<int>(y))[x] = toSample(value);
    return true;
}

bool FrameBuffer::setPixelValueColor(unsigned x, unsigned y, std::uint64_t r, std::uint64_t g, std::uint64_t b)
{
    if (gray || x >= static_cast<unsigned>(imageWidth) || y >= static_cast<unsigned>(imageHeight))
        return false;
    std::uint16_t* p = line(static_cast<int>(y)) + 3 * static_cast<std::size_t>(x);
    p[0] = toSample(r);
    p[1] = toSample(g);
    p[2] = toSample(b);
    return true;
}

void FrameBuffer::lastValidPixel(int* x, int* y) const
{
    const std::uint64_t packed = lastValid.load(std::memory_order_acquire);
    if (x)
        *x = static_cast<int>(static_cast<std::uint32_t>(packed));
    if (y)
        *y = static_cast<int>(static_cast<std::uint32_t>(packed >> 32));
}

void FrameBuffer::setLastValidPixel(int x, int y)
{
    lastValid.store(packPosition(x, y), std::memory_order_release);
}

void FrameBuffer::setComplete()
{
    setLastValidPixel(imageWidth - 1, imageHeight - 1);
}

boost::shared_ptr<FrameBufferGroup> FrameBuffer::frameBufferGroup() const
{
    return group.lock();
}

void FrameBuffer::setFrameBufferGroup(const boost::shared_ptr<FrameBufferGroup>& owner)
{
    group = owner;
}

int FrameBuffer::width() const
{
    return imageWidth;
}
int FrameBuffer::height() const
{
    return imageHeight;
}
std::int64_t FrameBuffer::frameIndex() const
{
    return index.load();
}
std::uint64_t FrameBuffer::transferLength() const
{
    return transferred.load();
}
std::uint64_t FrameBuffer::timestamp() const
{
    return time.load();
}
std::uint32_t FrameBuffer::tag() const
{
    return tagValue.load();
}
std::uint32_t FrameBuffer::flags() const
{
    return flagsValue.load();
}

void FrameBuffer::setFrameIndex(std::int64_t value)
{
    index.store(value);
}
void FrameBuffer::setTransferLength(std::uint64_t value)
{
    transferred.store(value);
}
void FrameBuffer::setTimestamp(std::uint64_t value)
{
    time.store(value);
}
void FrameBuffer::setTag(std::uint32_t value)
{
    tagValue.store(value);
}
void FrameBuffer::setFlags(std::uint32_t value)
{
    flagsValue.store(value);
}

int FrameBuffer::saveTiff(const std::string& path) const
{
    return TiffWriter(*this).write(path);
}

int FrameBuffer::saveTiff(const std::string& path, std::string* reason) const
{
    TiffWriter writer(*this);
    const int result = writer.write(path);
    if (reason)
        *reason = writer.errorMessage();
    return result;
}

} // namespace core
} // namespace vexo
