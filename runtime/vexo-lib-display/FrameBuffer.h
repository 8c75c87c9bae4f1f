#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace vexo {
namespace core {

class FrameBufferGroup;

// One stored frame: width x height pixels of one (gray) or three (R, G, B) values each,
// 1 to 16 bits per value. Values are kept in 16-bit samples, interleaved for colour.
//
// Threads: the acquisition thread writes pixels and then publishes them through
// setLastValidPixel (release); the GUI thread and the tool workers read pixels and the
// metadata. Metadata fields are atomics so readers on other threads see whole values.
class FrameBuffer
{
public:
    // bitsPerPixel is clamped to 1..16; negative sizes count as 0.
    FrameBuffer(int width, int height, int bitsPerPixel, bool gray);
    // The bytes such a buffer allocates for its samples; the largest value where that
    // cannot be counted in 64 bits.
    static std::uint64_t bytesFor(int width, int height, bool gray);
    virtual ~FrameBuffer();

    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    bool isGray() const;
    int bitsPerPixel() const;

    // False when (x, y) is outside the buffer or the buffer is of the other kind. Inline:
    // the tools read a whole line pixel by pixel through these.
    bool getPixelValueGray(unsigned x, unsigned y, std::uint64_t* value) const
    {
        if (!gray || !value || x >= static_cast<unsigned>(imageWidth) || y >= static_cast<unsigned>(imageHeight))
            return false;
        *value = samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(imageWidth) + x];
        return true;
    }
    bool getPixelValueColor(unsigned x, unsigned y, std::uint64_t* r, std::uint64_t* g, std::uint64_t* b) const
    {
        if (gray || !r || !g || !b || x >= static_cast<unsigned>(imageWidth) || y >= static_cast<unsigned>(imageHeight))
            return false;
        const std::uint16_t* p =
            samples.data() + 3 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(imageWidth) + x);
        *r = p[0];
        *g = p[1];
        *b = p[2];
        return true;
    }

    // The last pixel written: a position counts as filled when its line is above y, or is
    // y with a column at most x. (-1, -1) while nothing is written.
    void lastValidPixel(int* x, int* y) const;

    // The group the buffer belongs to; empty for a stand-alone buffer.
    boost::shared_ptr<FrameBufferGroup> frameBufferGroup() const;

    virtual int width() const;
    virtual int height() const;
    virtual std::int64_t frameIndex() const;
    virtual std::uint64_t transferLength() const;
    virtual std::uint64_t timestamp() const;
    virtual std::uint32_t tag() const;
    virtual std::uint32_t flags() const;

    // Writes the buffer as a TIFF file; 0 on success, non-zero when the file could not be
    // written completely.
    virtual int saveTiff(const std::string& path) const;
    // The same, and on failure why, in the system's words (e.g. "... No space left on
    // device"). No partial file is left behind either way.
    int saveTiff(const std::string& path, std::string* reason) const;

    // --- Writer side (acquisition, simulator, tests) ---
    int channels() const;
    // Samples of line y: width() * channels() values; null outside the buffer.
    std::uint16_t* line(int y);
    const std::uint16_t* line(int y) const;
    bool setPixelValueGray(unsigned x, unsigned y, std::uint64_t value);
    bool setPixelValueColor(unsigned x, unsigned y, std::uint64_t r, std::uint64_t g, std::uint64_t b);
    void setFrameIndex(std::int64_t value);
    void setTransferLength(std::uint64_t value);
    void setTimestamp(std::uint64_t value);
    void setTag(std::uint32_t value);
    void setFlags(std::uint32_t value);
    void setLastValidPixel(int x, int y);
    // Marks the whole buffer as written.
    void setComplete();
    void setFrameBufferGroup(const boost::shared_ptr<FrameBufferGroup>& group);

private:
    const int imageWidth;
    const int imageHeight;
    const int bits;
    const bool gray;
    std::vector<std::uint16_t> samples;
    std::atomic<std::int64_t> index{0};
    std::atomic<std::uint64_t> transferred{0};
    std::atomic<std::uint64_t> time{0};
    std::atomic<std::uint32_t> tagValue{0};
    std::atomic<std::uint32_t> flagsValue{0};
    // Packed (y << 32 | x) of the last valid pixel so both halves change together.
    std::atomic<std::uint64_t> lastValid;
    boost::weak_ptr<FrameBufferGroup> group;
};

} // namespace core
} // namespace vexo
