#include "vexo-lib-display/TiffSequenceWriter.h"

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SystemError.h"
#include "vexo-lib-display/TiffMessages.h"
#include "vexo-lib-display/TiffWriter.h"

#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace vexo {
namespace core {

TiffSequenceWriter::TiffSequenceWriter() = default;

TiffSequenceWriter::~TiffSequenceWriter()
{
    close();
}

int TiffSequenceWriter::pages() const
{
    return written;
}

const std::string& TiffSequenceWriter::errorMessage() const
{
    return error;
}

bool TiffSequenceWriter::open(const std::string& target)
{
    error.clear();
    if (tif) {
        error = "a file is open already: " + path;
        return false;
    }
    fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = systemError("cannot create " + target, errno);
        return false;
    }
    path = target;
    messages = std::make_unique<TiffMessages>();
    // libtiff closes the descriptor it is given; ours stays for reserving and closing.
    const int tiffFd = ::dup(fd);
    if (tiffFd >= 0 && messages->options())
        tif = TIFFFdOpenExt(tiffFd, path.c_str(), "w8", messages->options());
    if (!tif) {
        if (tiffFd >= 0)
            ::close(tiffFd);
        error = messages->errorSeen() ? messages->firstError() : "cannot start a TIFF file in " + path;
        ::close(fd);
        fd = -1;
        ::unlink(path.c_str());
        return false;
    }
    written = 0;
    return true;
}

bool TiffSequenceWriter::reserve(std::uint64_t bytes)
{
    if (!canReserve)
        return true;
#ifdef FALLOC_FL_KEEP_SIZE
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        error = systemError("cannot look at " + path, errno);
        return false;
    }
    // Beyond the end, without moving it: libtiff appends there, into space that is ours.
    if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, st.st_size, static_cast<off_t>(bytes)) == 0)
        return true;
    if (errno == EOPNOTSUPP || errno == ENOSYS) {
        canReserve = false;
        return true;
    }
    error = systemError("no room for page " + std::to_string(written) + " of " + path, errno);
    return false;
#else
    (void)bytes;
    canReserve = false;
    return true;
#endif
}

bool TiffSequenceWriter::append(const FrameBuffer& buffer)
{
    error.clear();
    if (!tif) {
        error = "no file is open";
        return false;
    }
    if (buffer.width() <= 0 || buffer.height() <= 0) {
        error = "TIFF cannot hold an image without pixels";
        return false;
    }
    // The samples, the strip tables (a few bytes per 8 KiB strip) and the tags.
    const std::uint64_t samples = TiffWriter::imageBytes(buffer);
    if (!reserve(samples + samples / 256 + 65536))
        return false;
    messages->clear();
    errno = 0;
    const bool ok = TiffWriter::writePage(tif, buffer);
    const int code = errno;
    if (!ok || messages->errorSeen()) {
        error = messages->errorSeen() ? messages->firstError() : "cannot write page to " + path;
        if (code != 0)
            error = systemError(error, code);
        return false;
    }
    ++written;
    return true;
}

bool TiffSequenceWriter::close()
{
    if (!tif)
        return true;
    messages->clear();
    TIFFClose(tif);
    tif = nullptr;
    bool ok = !messages->errorSeen();
    if (!ok)
        error = messages->firstError();
    // Gives back what was reserved past the end and not used.
    struct stat st;
    if (::fstat(fd, &st) == 0)
        ::ftruncate(fd, st.st_size);
    if (::close(fd) != 0 && ok) {
        error = systemError("cannot close " + path, errno);
        ok = false;
    }
    fd = -1;
    return ok;
}

} // namespace core
} // namespace vexo
