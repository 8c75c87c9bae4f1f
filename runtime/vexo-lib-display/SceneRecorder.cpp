#include "vexo-lib-display/SceneRecorder.h"

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SystemError.h"
#include "vexo-lib-display/TiffSequenceWriter.h"
#include "vexo-lib-display/TiffWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace vexo {
namespace core {

namespace {

std::string fileName(const SceneRecorder::Settings& settings, std::uint64_t number)
{
    char digits[24];
    std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(number));
    return settings.folder + "/" + settings.stem + digits + ".tif";
}

std::string sequenceName(const SceneRecorder::Settings& settings)
{
    return settings.folder + "/" + settings.stem + ".tif";
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Pushes the folder's files to the disk: they were written without waiting for it, one
// flush for all of them is far cheaper than one per file.
bool flushFolder(const std::string& folder, std::string* why)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *why = systemError("cannot open " + folder, errno);
        return false;
    }
#ifdef __linux__
    const bool ok = ::syncfs(fd) == 0;
#else
    ::sync();
    const bool ok = ::fsync(fd) == 0;
#endif
    if (!ok)
        *why = systemError("cannot flush " + folder, errno);
    ::close(fd);
    return ok;
}

} // namespace

SceneRecorder::SceneRecorder() = default;

std::string SceneRecorder::firstFile(const Settings& settings)
{
    return settings.bigTiff ? sequenceName(settings) : fileName(settings, 0);
}

SceneRecorder::~SceneRecorder()
{
    stop();
    wait();
}

bool SceneRecorder::start(const Settings& wanted, int ringCapacity, std::string* error)
{
    wait();
    std::string why;
    if (wanted.folder.empty() || wanted.stem.empty())
        why = "a recording needs a folder and a file name";
    else if (::mkdir(wanted.folder.c_str(), 0777) != 0 && errno != EEXIST)
        why = systemError("cannot make the folder " + wanted.folder, errno);
    else if (exists(firstFile(wanted)))
        why = firstFile(wanted) + " holds a recording already";
    std::unique_ptr<TiffSequenceWriter> file;
    if (why.empty() && wanted.bigTiff) {
        file = std::make_unique<TiffSequenceWriter>();
        if (!file->open(sequenceName(wanted)))
            why = file->errorMessage();
    }
    if (!why.empty()) {
        if (error)
            *error = why;
        return false;
    }

    settings = wanted;
    sequence = std::move(file);
    const int depth = wanted.queueDepth > 0 ? wanted.queueDepth : std::max(1, ringCapacity / 2);
    {
        MutexLocker lock(mutex);
        queue.assign(static_cast<std::size_t>(depth), {});
        head = 0;
        count = 0;
        accepting = true;
        started = false;
        taken = 0;
        state = Status();
        state.recording = true;
        state.writing = true;
        state.path = wanted.bigTiff ? sequenceName(wanted) : wanted.folder;
    }
    writer = std::thread([this] { writerLoop(); });
    return true;
}

void SceneRecorder::stop()
{
    MutexLocker lock(mutex);
    accepting = false;
    state.recording = false;
    wake.notify_all();
}

void SceneRecorder::wait()
{
    if (writer.joinable())
        writer.join();
}

SceneRecorder::Status SceneRecorder::status() const
{
    MutexLocker lock(mutex);
    Status s = state;
    s.queued = count;
    if (started)
        s.seconds = std::chrono::duration<double>(std::max(lastWritten, firstTaken) - firstTaken).count();
    return s;
}

bool SceneRecorder::take()
{
    if (!accepting)
        return false;
    if (!started) {
        started = true;
        firstTaken = Clock::now();
    }
    if (++taken == settings.frameLimit) {
        accepting = false;
        state.recording = false;
        wake.notify_all();
    }
    return true;
}

void SceneRecorder::offer(const boost::shared_ptr<FrameBuffer>& buffer)
{
    MutexLocker lock(mutex);
    if (!take())
        return;
    if (count == queue.size()) {
        ++state.notWritten;
        return;
    }
    queue[(head + count) % queue.size()] = buffer;
    ++count;
    wake.notify_one();
}

void SceneRecorder::missed()
{
    MutexLocker lock(mutex);
    if (take())
        ++state.notWritten;
}

void SceneRecorder::setBeforeWrite(std::function<void(std::int64_t)> hook)
{
    MutexLocker lock(mutex);
    beforeWrite = std::move(hook);
}

void SceneRecorder::dropQueued()
{
    state.notWritten += count;
    for (; count > 0; --count) {
        queue[head].reset();
        head = (head + 1) % queue.size();
    }
}

void SceneRecorder::writerLoop()
{
    std::uint64_t number = 0;
    std::string why;
    for (;;) {
        boost::shared_ptr<FrameBuffer> frame;
        std::function<void(std::int64_t)> hook;
        {
            MutexLocker lock(mutex);
            while (count == 0 && accepting)
                lock.wait(wake);
            if (count == 0)
                break;
            frame = std::move(queue[head]);
            head = (head + 1) % queue.size();
            --count;
            hook = beforeWrite;
        }
        if (hook)
            hook(frame->frameIndex());
        const bool ok = write(*frame, number, &why);
        const std::uint64_t bytes = TiffWriter::imageBytes(*frame);
        frame.reset();
        MutexLocker lock(mutex);
        if (!ok) {
            ++state.notWritten; // the rest of the queue goes below
            break;
        }
        ++number;
        ++state.recorded;
        state.bytes += bytes;
        lastWritten = Clock::now();
    }

    std::string finishWhy;
    const bool finished = finish(&finishWhy);
    MutexLocker lock(mutex);
    if (!why.empty() || !finished) {
        state.error = why.empty() ? finishWhy : why;
        accepting = false;
        state.recording = false;
        dropQueued();
    }
    state.writing = false;
}

bool SceneRecorder::write(const FrameBuffer& frame, std::uint64_t number, std::string* why)
{
    if (sequence) {
        if (sequence->append(frame))
            return true;
        *why = sequence->errorMessage();
        return false;
    }
    TiffWriter writer(frame);
    const std::string path = fileName(settings, number);
    if (writer.write(path, TiffWriter::Sync::Later) == 0)
        return true;
    *why = "cannot write " + path + ": " + writer.errorMessage();
    return false;
}

bool SceneRecorder::finish(std::string* why)
{
    bool ok = true;
    if (sequence) {
        ok = sequence->close();
        if (!ok)
            *why = sequence->errorMessage();
        sequence.reset();
    }
    std::string flushWhy;
    if (!flushFolder(settings.folder, &flushWhy) && ok) {
        *why = flushWhy;
        ok = false;
    }
    return ok;
}

} // namespace core
} // namespace vexo
