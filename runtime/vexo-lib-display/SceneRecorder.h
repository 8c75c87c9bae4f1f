#pragma once

#include "vexo-core/MutexLocker.h"

#include <boost/shared_ptr.hpp>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vexo {
namespace core {

class FrameBuffer;
class TiffSequenceWriter;

// Writes every frame a scene stores while recording to disk, on a writer thread of its
// own, so that acquisition never waits for the disk.
//
// A stored frame is queued as a lease on its ring slot (no copy): the slot stays out of
// the ring until the frame is written. The queue holds at most queueDepth frames, so the
// rest of the ring stays free for acquisition and display; a frame that finds the queue
// full is not written, and neither is one the ring had no slot for. Both are counted in
// Status::notWritten, and the frame indices stored in the files show where they were.
//
// Files: the folder gets stem + the file number (five digits at least, from 00000, one
// number per written frame) + ".tif", each as TiffWriter writes a frame, or one
// multi-page BigTIFF stem + ".tif" (TiffSequenceWriter). A start that would overwrite a
// recording is refused. A write that fails (a full disk, a write error) ends the
// recording: Status::error says why, the frames still queued count as not written, and
// every file (every page) written before stays whole and readable.
//
// Threads: start(), stop() and wait() on the owner's thread; offer() and missed() on the
// acquisition thread; status() on any thread.
class SceneRecorder
{
public:
    struct Settings
    {
        std::string folder; // made when missing (one level)
        bool bigTiff = false;
        std::string stem = "frame";
        int queueDepth = 0; // 0: half the ring, at least 1
        std::uint64_t frameLimit = 0; // frames taken, then the recording stops by itself; 0: no limit
    };

    struct Status
    {
        bool recording = false; // frames are taken
        bool writing = false; // the writer has not ended yet (also while it drains after stop())
        std::uint64_t recorded = 0; // frames written whole
        std::uint64_t notWritten = 0; // frames stored or dropped while recording, not on disk
        std::uint64_t queued = 0;
        std::uint64_t bytes = 0; // sample bytes written
        double seconds = 0; // from the first frame taken to the end of the last write
        std::string path; // the folder, or the BigTIFF file
        std::string error; // why the recording ended by itself; empty otherwise
    };

    SceneRecorder();
    // Stops, then waits until everything queued is written.
    ~SceneRecorder();
    SceneRecorder(const SceneRecorder&) = delete;
    SceneRecorder& operator=(const SceneRecorder&) = delete;

    // Starts recording the next frames; ringCapacity sizes the default queue. False, with
    // a reason in *error, when the target cannot be made or holds a recording; a
    // recording still draining is waited for first.
    bool start(const Settings& settings, int ringCapacity, std::string* error) VEXO_EXCLUDES(mutex);
    // Takes no more frames; those queued are still written. Returns at once.
    void stop() VEXO_EXCLUDES(mutex);
    // Until the writer has ended (nothing is recording or queued any more).
    void wait() VEXO_EXCLUDES(mutex);
    Status status() const VEXO_EXCLUDES(mutex);
    // The file whose presence means the settings' target holds a recording already.
    static std::string firstFile(const Settings& settings);

    // A frame just stored, while recording: queued or counted as not written.
    void offer(const boost::shared_ptr<FrameBuffer>& buffer) VEXO_EXCLUDES(mutex);
    // A frame the ring had no slot for.
    void missed() VEXO_EXCLUDES(mutex);

    // For tests: runs on the writer thread before each frame is written, with its index.
    void setBeforeWrite(std::function<void(std::int64_t frameIndex)> hook) VEXO_EXCLUDES(mutex);

private:
    using Clock = std::chrono::steady_clock;

    void writerLoop() VEXO_EXCLUDES(mutex);
    // Writer thread: false with *why when the frame could not be written whole.
    bool write(const FrameBuffer& frame, std::uint64_t number, std::string* why);
    // Writer thread, at the end: the last directory, and the files to the disk.
    bool finish(std::string* why);
    void dropQueued() VEXO_REQUIRES(mutex);
    // Counts a frame of the recording; false when it is past the limit.
    bool take() VEXO_REQUIRES(mutex);

    Settings settings; // the running recording's; set by start() while no writer runs
    std::unique_ptr<TiffSequenceWriter> sequence; // writer thread only, while it runs

    // Guards the fields below; wake wakes the writer. Leases are let go under it: a frame's group takes its own lock
    // then, never the other way round.
    mutable Mutex mutex;
    std::condition_variable wake;
    std::vector<boost::shared_ptr<FrameBuffer>> queue VEXO_GUARDED_BY(mutex); // a ring, sized by start()
    std::size_t head VEXO_GUARDED_BY(mutex) = 0;
    std::size_t count VEXO_GUARDED_BY(mutex) = 0;
    bool accepting VEXO_GUARDED_BY(mutex) = false;
    bool started VEXO_GUARDED_BY(mutex) = false; // the first frame was taken
    std::uint64_t taken VEXO_GUARDED_BY(mutex) = 0; // frames offered or missed while recording
    Clock::time_point firstTaken VEXO_GUARDED_BY(mutex);
    Clock::time_point lastWritten VEXO_GUARDED_BY(mutex);
    Status state VEXO_GUARDED_BY(mutex);
    std::function<void(std::int64_t)> beforeWrite VEXO_GUARDED_BY(mutex);

    std::thread writer; // started by start(), joined by wait() on the owner's thread
};

} // namespace core
} // namespace vexo
