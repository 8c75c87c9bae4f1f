#include "vexo-lib-display/TiffWriter.h"

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SystemError.h"
#include "vexo-lib-display/TiffMessages.h"

#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace vexo {
namespace core {

namespace {

// Classic TIFF addresses 32-bit offsets; leave room for the directory and strip tables.
constexpr std::uint64_t classicTiffLimit = 0xF0000000u;

// Long target names still leave room for the temporary's prefix and suffix in NAME_MAX.
constexpr std::size_t maxNameInTemporary = 200;

// Creates a new, empty temporary file beside path, named ".<name>.<random>.tmp" so it is
// hidden and cannot be mistaken for a finished image. O_EXCL makes the name ours alone,
// also against other threads and processes saving to the same target; 0666 lets the
// umask decide the final file's permissions, as for any newly created file.
int createTemporary(const std::string& path, std::string* tempPath)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        errno = EISDIR;
        return -1;
    }
    thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                      static_cast<unsigned long long>(random() & 0xffffffffffffull));
        *tempPath = folder + "." + name.substr(0, maxNameInTemporary) + suffix;
        const int fd = ::open(tempPath->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

} // namespace

TiffWriter::TiffWriter(const FrameBuffer& frame)
    : buffer(frame)
{
}

const std::string& TiffWriter::errorMessage() const
{
    return error;
}

std::string TiffWriter::description(const FrameBuffer& frame)
{
    return "frameIndex=" + std::to_string(frame.frameIndex()) + " timestamp=" + std::to_string(frame.timestamp())
        + " bitsPerPixel=" + std::to_string(frame.bitsPerPixel());
}

int TiffWriter::write(const std::string& path, Sync sync)
{
    error.clear();
    if (buffer.width() <= 0 || buffer.height() <= 0) {
        error = "TIFF cannot hold an image without pixels";
        return -1;
    }

    // The image replaces a file by a rename; a device, pipe or socket of that name would
    // be replaced by it too (and TIFF needs a file it can seek in), so it is left alone.
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
        error = path + " is not a regular file";
        return -1;
    }

    std::string tempPath;
    const int fd = createTemporary(path, &tempPath);
    if (fd < 0) {
        error = systemError("cannot create a file beside " + path, errno);
        return -1;
    }

    bool ok = writeImage(fd, tempPath);
    // The image counts as written only once it is on disk: fsync and close report
    // write-back failures (disk full, quota, network file systems) that write() did not.
    if (ok && sync == Sync::ToDisk && ::fsync(fd) != 0) {
        error = systemError("cannot flush " + tempPath, errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = systemError("cannot close " + tempPath, errno);
        ok = false;
    }
    if (ok && ::rename(tempPath.c_str(), path.c_str()) != 0) {
        error = systemError("cannot replace " + path, errno);
        ok = false;
    }
    if (!ok)
        ::unlink(tempPath.c_str());
    return ok ? 0 : -1;
}

bool TiffWriter::writePage(TIFF* tif, const FrameBuffer& buffer)
{
    const auto width = static_cast<std::uint32_t>(buffer.width());
    const auto height = static_cast<std::uint32_t>(buffer.height());
    const auto channels = static_cast<std::uint16_t>(buffer.channels());
    const bool wide = buffer.bitsPerPixel() > 8;
    const std::string text = description(buffer);
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height)
        && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, channels)
        && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, wide ? 16 : 8)
        && TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT)
        && TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, buffer.isGray() ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)
        && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
        && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE)
        && TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) && TIFFSetField(tif, TIFFTAG_XRESOLUTION, 1.0)
        && TIFFSetField(tif, TIFFTAG_YRESOLUTION, 1.0) && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE)
        && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.c_str())
        // Strips of about 8 KiB: small enough for readers that load a strip at once.
        && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));

    const std::size_t samplesPerRow = std::size_t(width) * channels;
    std::vector<std::uint8_t> narrowRow(wide ? 0 : samplesPerRow);
    std::vector<std::uint16_t> wideRow(wide ? samplesPerRow : 0);
    for (std::uint32_t y = 0; ok && y < height; ++y) {
        const std::uint16_t* samples = buffer.line(static_cast<int>(y));
        void* row = nullptr;
        if (wide) {
            // A copy: libtiff may swap bytes in the row it is handed.
            std::copy(samples, samples + samplesPerRow, wideRow.begin());
            row = wideRow.data();
        } else {
            // Values above 255 (possible when a writer stored more than the stated bit
            // depth) clamp to 255 rather than wrap around.
            std::transform(samples, samples + samplesPerRow, narrowRow.begin(),
                           [](std::uint16_t v) { return static_cast<std::uint8_t>(std::min<std::uint16_t>(v, 255)); });
            row = narrowRow.data();
        }
        errno = 0;
        ok = TIFFWriteScanline(tif, row, y, 0) == 1;
    }
    if (ok) {
        errno = 0;
        ok = TIFFWriteDirectory(tif);
    }
    return ok;
}

std::uint64_t TiffWriter::imageBytes(const FrameBuffer& buffer)
{
    return std::uint64_t(std::max(buffer.width(), 0)) * std::uint64_t(std::max(buffer.height(), 0))
        * std::uint64_t(buffer.channels()) * (buffer.bitsPerPixel() > 8 ? 2u : 1u);
}

bool TiffWriter::writeImage(int fd, const std::string& tempPath)
{
    const std::uint64_t bytes = imageBytes(buffer);

    // libtiff closes the descriptor it is given; ours stays open for fsync and close.
    const int tiffFd = ::dup(fd);
    if (tiffFd < 0) {
        error = systemError("cannot duplicate the descriptor of " + tempPath, errno);
        return false;
    }

    TiffMessages errors;
    if (!errors.options()) {
        ::close(tiffFd);
        error = "out of memory";
        return false;
    }
    errno = 0;
    TIFF* tif = TIFFFdOpenExt(tiffFd, tempPath.c_str(), bytes > classicTiffLimit ? "w8" : "w", errors.options());
    const int openError = errno;
    if (!tif) {
        // A failed open leaves the descriptor open.
        ::close(tiffFd);
        error = errors.errorSeen() ? errors.firstError() : "cannot start a TIFF file in " + tempPath;
        if (openError != 0)
            error = systemError(error, openError);
        return false;
    }

    bool ok = writePage(tif, buffer);
    // libtiff's messages do not say why the system refused a write (a full disk, a
    // quota): the errno of the failing call does.
    int code = ok ? 0 : errno;
    errno = 0;
    TIFFClose(tif);
    // TIFFClose reports its own failures only through the handler.
    if (errors.errorSeen() && code == 0)
        code = errno;
    if (errors.errorSeen() || !ok) {
        error = errors.errorSeen() ? errors.firstError() : "cannot write the image to " + tempPath;
        if (code != 0)
            error = systemError(error, code);
        return false;
    }
    return true;
}

} // namespace core
} // namespace vexo
