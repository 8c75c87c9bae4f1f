#include "vexo-core/ConfigFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexo {
namespace core {

namespace {

std::string systemError(const std::string& what, int code)
{
    return what + ": " + std::strerror(code);
}

// Closes on every path out.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd; }
    // Closes now and reports the error close() found (a delayed write error on some file
    // systems).
    int close()
    {
        const int result = ::close(fd);
        fd = -1;
        return result;
    }

private:
    int fd;
};

// False with errno set; an absent file reads as empty.
bool readWhole(const std::string& path, QByteArray* data)
{
    data->clear();
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return errno == ENOENT;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        data->append(chunk, int(n));
    }
}

bool writeWhole(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    std::size_t left = std::size_t(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

// A link to the file is followed, so the rename replaces the file and not the link.
std::string resolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

} // namespace

ConfigFile::ConfigFile(const std::string& path)
    : name(path)
{
}

bool ConfigFile::read(IniDocument* document, std::string* error) const
{
    QByteArray data;
    if (!readWhole(name, &data)) {
        *error = systemError(name, errno);
        return false;
    }
    *document = IniDocument(data);
    return true;
}

bool ConfigFile::update(const std::function<void(IniDocument&)>& change, std::string* error)
{
    const QString folder = QFileInfo(QString::fromStdString(name)).absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = name + ": cannot create the folder " + folder.toStdString();
        return false;
    }
    const std::string target = resolvedPath(name);

    FileDescriptor lock(::open((target + ".flock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (lock.get() < 0) {
        *error = systemError(target + ".flock", errno);
        return false;
    }
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = systemError(target + ".flock", errno);
            return false;
        }
    }

    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A file its owner made read-only stays as it is, although the folder would allow
    // replacing it.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        *error = systemError(target, errno);
        return false;
    }
    QByteArray current;
    if (!readWhole(target, &current)) {
        *error = systemError(target, errno);
        return false;
    }
    IniDocument document(current);
    change(document);
    if (exists && document.text() == current)
        return true;

    const std::string temporary = target + ".tmp";
    FileDescriptor out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (out.get() < 0) {
        *error = systemError(temporary, errno);
        return false;
    }
    // Flushed before the rename: after a crash of the machine the name must not point to
    // a file whose data never reached the disk.
    const bool written = (!exists || ::fchmod(out.get(), old.st_mode & 07777) == 0)
        && writeWhole(out.get(), document.text()) && ::fdatasync(out.get()) == 0;
    const int writeErrno = errno;
    if (!written || out.close() != 0) {
        *error = systemError(temporary, written ? errno : writeErrno);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        *error = systemError(target, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace core
} // namespace vexo
