#pragma once

#include <cstdint>
#include <string>

struct tiff;

namespace vexo {
namespace core {

class FrameBuffer;

// Saves one frame buffer as a TIFF file.
//
// Layout: gray frames as one sample per pixel (min-is-black), colour frames as RGB with
// the three samples of a pixel side by side. Frames of 1 to 8 bits get 8-bit samples,
// 9 to 16 bits 16-bit samples; values are stored as they are, not scaled to the sample
// width. No compression: frames are saved while acquiring, so speed counts more than size,
// and every reader handles it. The image description holds
// "frameIndex=<n> timestamp=<n> bitsPerPixel=<n>".
//
// The file is written to a temporary file beside the target and renamed onto it only once
// it is complete, so a failed write leaves neither a partial file nor a temporary behind,
// and a file already at the target stays as it was.
//
// Each write uses its own libtiff handle with its own error handlers, so several threads
// may save at once and libtiff prints nothing to stderr.
class TiffWriter
{
public:
    explicit TiffWriter(const FrameBuffer& buffer);

    // ToDisk: a write counts once the file is on the disk. Later: once the system has
    // taken it, for many files in a row that are flushed together at the end.
    enum class Sync { ToDisk, Later };

    // 0 when the whole file was written, flushed as asked and put in place; -1 otherwise.
    // A buffer without pixels (width or height 0) cannot be stored as TIFF and fails.
    int write(const std::string& path, Sync sync = Sync::ToDisk);

    // Why the last write failed; empty after a success.
    const std::string& errorMessage() const;

    // The text stored in the ImageDescription tag.
    static std::string description(const FrameBuffer& buffer);
    // The bytes of the image's samples as stored.
    static std::uint64_t imageBytes(const FrameBuffer& buffer);
    // Writes buffer as the next page (directory) of an open handle; false when libtiff
    // failed, errno saying why where the system did.
    static bool writePage(struct tiff* tif, const FrameBuffer& buffer);

private:
    bool writeImage(int fd, const std::string& tempPath);

    const FrameBuffer& buffer;
    std::string error;
};

} // namespace core
} // namespace vexo
