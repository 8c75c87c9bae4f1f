#pragma once

#include "vexo-lib-display/FrameSource.h"

#include <memory>
#include <string>
#include <vector>

namespace vexo {
namespace core {

// Frames replayed from TIFF files: one file, every page of a multi-page file, or a
// numbered series as the window's "save sequence" writes it (stem, the frame number in at
// least five digits, ".tif": "run00000.tif", "run00001.tif", ...).
//
// The path names one file, or a series by any of its files, or a series by a pattern with
// '#' for the number ("run#.tif"). A file whose name ends in a five-digit number is taken
// as one of a series: the series runs over the neighbouring numbers that exist, without a
// gap. A pattern's series begins at 0.
//
// Gray images of 8- or 16-bit samples (min-is-black) and RGB of 8-bit samples side by side,
// striped or tiled, in any compression libtiff reads. The bit depth is the image
// description's "bitsPerPixel=<n>" (as TiffWriter writes it), else the one that
// SMaxSampleValue needs, else the sample size; the description's frame index and time
// stamp go into the delivered buffers, so frames saved again come out as they were read.
// Values are passed on as stored.
//
// Every file is checked when the source is made: unreadable, truncated or unsupported
// files and frames of different formats make it unusable, lastError() naming the file.
// A file that fails while it is replayed ends the acquisition (Failed, problem()).
//
// Frames follow each other at framesPerSecond (0: as fast as they are taken). After the
// last frame the wait returns Ended, or the first frame comes again when looping. Later
// passes of a loop carry on the files' numbering and clock: each adds the span of the
// series (last - first + 1 frame numbers; the time stamps' span and one mean spacing) to
// the stored frame index and time stamp, or takes the time of arrival where the files
// give no spacing. Each start() replays from the first frame.
//
// Threads: start(), stop(), waitForFrame() and deliverFrame() on the scene's acquisition
// thread, setFormat() on the steering thread while nothing is acquired; status(),
// cancel(), isUsable(), lastError() and problem() on any thread. libtiff's messages go to
// the handle that caused them, never to stderr.
class FileSource : public FrameSource
{
public:
    struct Settings
    {
        std::string path;
        double framesPerSecond = 0; // 0: as fast as possible
        bool loop = false;
    };

    explicit FileSource(const Settings& settings);
    ~FileSource() override;

    // True when every file could be read and all frames have one supported format.
    bool isUsable() const;
    // What went wrong last (reading a file), naming the file; empty when nothing did.
    std::string lastError() const;
    // The files replayed, in order.
    std::vector<std::string> files() const;
    // Frames in one pass over the files.
    int frameCount() const;

    // The names of the files a path stands for, as described above; empty with a reason
    // when there are none.
    static std::vector<std::string> resolve(const std::string& path, std::string* reason);

    FrameFormat format() const override;
    // Only the files' own format is possible.
    bool setFormat(const FrameFormat& format) override;
    Status status() const override;
    bool start() override;
    std::string problem() const override;
    void stop() override;
    void cancel() override;
    Delivery waitForFrame() override;
    Delivery deliverFrame(FrameBuffer* target, const Progress& progress) override;

private:
    struct D;
    std::unique_ptr<D> d;
};

} // namespace core
} // namespace vexo
