#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct tiff;

namespace vexo {
namespace core {

class FrameBuffer;
class TiffMessages;

// Appends frames as the pages of one BigTIFF file, each page laid out as TiffWriter lays
// out a single frame (same tags and description).
//
// A file that stops early stays readable: before each page the space for it and its
// directory is reserved on the disk, so a full disk refuses the page before any of it is
// written and the file ends with the last whole page. Where the file system cannot
// reserve, a page that fails half-way may cost the file its last page or, with it, the
// file's readability; tmpfs, ext4, xfs and btrfs reserve.
//
// One thread at a time; the file is closed by close() or the destructor.
class TiffSequenceWriter
{
public:
    TiffSequenceWriter();
    ~TiffSequenceWriter();
    TiffSequenceWriter(const TiffSequenceWriter&) = delete;
    TiffSequenceWriter& operator=(const TiffSequenceWriter&) = delete;

    // Creates path, which must not exist yet; false with errorMessage() otherwise.
    bool open(const std::string& path);
    // The next page; false with errorMessage() when it could not be written whole. The
    // file then stays as it was before the call, unless the failure came half-way
    // through a page that could not be reserved (see above).
    bool append(const FrameBuffer& buffer);
    // Ends the file; false when its last directory or the close failed.
    bool close();

    int pages() const;
    const std::string& errorMessage() const;

private:
    bool reserve(std::uint64_t bytes);

    // Made with the handle and kept past it: its address is the handle's message sink.
    std::unique_ptr<TiffMessages> messages;
    struct tiff* tif = nullptr;
    int fd = -1; // ours; libtiff has a duplicate
    std::string path;
    std::string error;
    int written = 0;
    bool canReserve = true;
};

} // namespace core
} // namespace vexo
