#include "vexo-lib-display/FileSource.h"

#include "vexo-core/Mutex.h"
#include "vexo-core/MutexLocker.h"
#include "vexo-core/StopWatch.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/CancellableSleep.h"
#include "vexo-lib-display/FramePublisher.h"
#include "vexo-lib-display/TiffMessages.h"

#include <tiffio.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <type_traits>

namespace vexo {
namespace core {

namespace {

// Frames larger than this are refused rather than risk a ring the machine cannot hold:
// 256 Mpixels, far beyond any camera's frame.
constexpr std::uint64_t maxPixels = std::uint64_t(1) << 28;

// Tiles may overhang a small image up to this side, as writers' fixed tile sizes do.
constexpr std::uint32_t maxTileSide = 1024;

// Digits of a series' number as the window's "save sequence" writes them (at least).
constexpr int seriesDigits = 5;

bool isRegularFile(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string numbered(const std::string& stem, std::int64_t index, const std::string& suffix)
{
    char digits[32];
    std::snprintf(digits, sizeof digits, "%0*lld", seriesDigits, static_cast<long long>(index));
    return stem + digits + suffix;
}

// The files of the series stem<n>suffix that exist without a gap around `from`.
std::vector<std::string> seriesAround(const std::string& stem, std::int64_t from, const std::string& suffix)
{
    std::int64_t first = from;
    while (first > 0 && isRegularFile(numbered(stem, first - 1, suffix)))
        --first;
    std::vector<std::string> files;
    for (std::int64_t i = first; isRegularFile(numbered(stem, i, suffix)); ++i)
        files.push_back(numbered(stem, i, suffix));
    return files;
}

// "key=value" of a TiffWriter description; false when absent or not a whole number.
template <typename Number>
bool descriptionValue(const std::string& description, const std::string& key, Number* value)
{
    std::istringstream words(description);
    std::string word;
    while (words >> word) {
        if (word.size() <= key.size() + 1 || word.compare(0, key.size(), key) != 0 || word[key.size()] != '=')
            continue;
        const char* text = word.c_str() + key.size() + 1;
        char* end = nullptr;
        errno = 0;
        if (std::is_signed<Number>::value) {
            const long long v = std::strtoll(text, &end, 10);
            if (errno != 0 || *end != '\0')
                return false;
            *value = static_cast<Number>(v);
        } else {
            if (*text == '-')
                return false;
            const unsigned long long v = std::strtoull(text, &end, 10);
            if (errno != 0 || *end != '\0')
                return false;
            *value = static_cast<Number>(v);
        }
        return true;
    }
    return false;
}

int bitsForMaximum(double maximum)
{
    int bits = 1;
    while (bits < 16 && maximum > double((1u << bits) - 1))
        ++bits;
    return bits;
}

std::string describe(const FrameFormat& f)
{
    return std::to_string(f.width) + " x " + std::to_string(f.height) + ", " + std::to_string(f.bitsPerPixel)
        + (f.gray ? " bits gray" : " bits RGB");
}

} // namespace

struct FileSource::D
{
    // One frame: a page of one of the files.
    struct Page
    {
        int file = 0;
        tdir_t directory = 0;
        bool tiled = false;
        int rowsPerStep = 0; // rows of a strip, or of a row of tiles
        int sampleBytes = 1;
        bool haveIndex = false;
        std::int64_t index = 0;
        bool haveTime = false;
        std::uint64_t time = 0;
    };

    // Set while the source is made, then only read: no lock needed.
    Settings settings;
    std::vector<std::string> files;
    std::vector<Page> pages;
    FrameFormat format;
    bool usable = false;
    // How far each pass of a loop moves the files' frame indices and time stamps on, so
    // that both keep growing (the window's rate is worked out from them); 0 for time
    // stamps the files give no spacing for: later passes then take the time of arrival.
    std::int64_t indexPeriod = 0;
    std::uint64_t timePeriod = 0;

    void findPeriods()
    {
        const Page& first = pages.front();
        const Page& last = pages.back();
        const auto n = static_cast<std::int64_t>(pages.size());
        indexPeriod = std::max(n, last.index - first.index + 1);
        if (n > 1 && last.time > first.time)
            timePeriod = (last.time - first.time) / std::uint64_t(n - 1) * std::uint64_t(n);
    }

    // Guards the run's state and the error: the acquisition thread runs and fails,
    // status(), cancel() and problem() come from any thread. waitUntil sleeps on wake.
    mutable Mutex mutex;
    std::condition_variable wake;
    std::string error VEXO_GUARDED_BY(mutex);
    bool running VEXO_GUARDED_BY(mutex) = false;
    bool cancelled VEXO_GUARDED_BY(mutex) = false;
    bool failed VEXO_GUARDED_BY(mutex) = false;
    std::uint64_t startTime VEXO_GUARDED_BY(mutex) = 0;
    std::uint64_t next VEXO_GUARDED_BY(mutex) = 0; // frames delivered since start()
    bool announced VEXO_GUARDED_BY(mutex) = false; // waitForFrame() chose frame `next`
    bool arrived VEXO_GUARDED_BY(mutex) = false; // and its time has come

    // The acquisition thread's reading state (the constructor's before it).
    TiffMessages messages;
    TIFF* tif = nullptr;
    int openFile = -1;
    std::vector<std::uint8_t> chunk;

    ~D() { close(); }

    void close()
    {
        if (tif)
            TIFFClose(tif);
        tif = nullptr;
        openFile = -1;
    }

    // The file's name with libtiff's first complaint, or `otherwise`.
    std::string complaint(int file, const std::string& otherwise) const
    {
        const std::string& said = messages.errorSeen() ? messages.firstError() : otherwise;
        return files[static_cast<std::size_t>(file)] + ": " + said;
    }

    bool open(int file, std::string* why)
    {
        if (openFile == file)
            return true;
        close();
        messages.clear();
        if (!messages.options()) {
            *why = "out of memory";
            return false;
        }
        // Not mapped: a file cut short while it is replayed must fail a read, not the process.
        tif = TIFFOpenExt(files[static_cast<std::size_t>(file)].c_str(), "rm", messages.options());
        if (!tif) {
            *why = complaint(file, "cannot open the file");
            return false;
        }
        openFile = file;
        return true;
    }

    bool scan(int file, std::string* why);
    bool readPage(int file, Page* page, FrameFormat* pageFormat, std::string* why);
    bool checkStriles(int file, const Page& page, std::uint64_t fileSize, std::string* why);
    bool readLines(const Page& page, FrameBuffer& target, int first, int last, std::string* why);
    bool waitUntil(std::uint64_t due) VEXO_EXCLUDES(mutex);
};

bool FileSource::D::readPage(int file, Page* page, FrameFormat* pageFormat, std::string* why)
{
    const std::string& name = files[static_cast<std::size_t>(file)];
    const std::string where = name
        + (TIFFCurrentDirectory(tif) > 0 || !TIFFLastDirectory(tif)
               ? " page " + std::to_string(TIFFCurrentDirectory(tif) + 1)
               : std::string());
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samples = 1;
    std::uint16_t bits = 1;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t photometric = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) || width == 0
        || height == 0) {
        *why = where + ": the image has no size";
        return false;
    }
    if (std::uint64_t(width) * height > maxPixels) {
        *why = where + ": " + std::to_string(width) + " x " + std::to_string(height) + " pixels are too many";
        return false;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    const bool havePhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (sampleFormat != SAMPLEFORMAT_UINT) {
        *why = where + ": only unsigned whole-number samples can be shown (sample format "
            + std::to_string(sampleFormat) + ")";
        return false;
    }
    if (bits != 8 && bits != 16) {
        *why = where + ": " + std::to_string(bits) + "-bit samples are not supported (8 or 16)";
        return false;
    }
    const bool gray = samples == 1 && (!havePhotometric || photometric == PHOTOMETRIC_MINISBLACK);
    const bool rgb = samples == 3 && havePhotometric && photometric == PHOTOMETRIC_RGB;
    if (!gray && !rgb) {
        *why = where + ": " + std::to_string(samples) + " samples per pixel with photometric "
            + std::to_string(photometric) + " are not supported (gray min-is-black or RGB)";
        return false;
    }
    if (rgb && planar != PLANARCONFIG_CONTIG) {
        *why = where + ": colour planes stored apart are not supported";
        return false;
    }

    page->directory = TIFFCurrentDirectory(tif);
    page->file = file;
    page->sampleBytes = bits / 8;
    page->tiled = TIFFIsTiled(tif) != 0;
    std::uint32_t step = 0;
    if (page->tiled) {
        std::uint32_t tileWidth = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &step);
        if (tileWidth == 0 || step == 0) {
            *why = where + ": the tiles have no size";
            return false;
        }
        // A tile is read whole: one far larger than the image is refused, not allocated.
        if (tileWidth > std::max(width, maxTileSide) || step > std::max(height, maxTileSide)) {
            *why = where + ": tiles of " + std::to_string(tileWidth) + " x " + std::to_string(step)
                + " are larger than the image";
            return false;
        }
    } else {
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &step);
    }
    page->rowsPerStep = static_cast<int>(std::min(std::max(step, 1u), height));

    char* text = nullptr;
    const std::string description = TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &text) && text ? text : "";
    page->haveIndex = descriptionValue(description, "frameIndex", &page->index);
    page->haveTime = descriptionValue(description, "timestamp", &page->time);
    int depth = 0;
    double maximum = 0;
    if (descriptionValue(description, "bitsPerPixel", &depth) && depth >= 1 && depth <= bits) {
        // Our own files say the depth the frames had.
    } else if (TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &maximum) && maximum >= 0) {
        depth = std::min<int>(bits, bitsForMaximum(maximum));
    } else {
        depth = bits;
    }
    pageFormat->width = static_cast<int>(width);
    pageFormat->height = static_cast<int>(height);
    pageFormat->bitsPerPixel = depth;
    pageFormat->gray = gray;

    struct stat info;
    if (::stat(name.c_str(), &info) != 0) {
        *why = name + ": " + std::strerror(errno);
        return false;
    }
    return checkStriles(file, *page, static_cast<std::uint64_t>(info.st_size), why);
}

// Every strip or tile lies inside the file, and an uncompressed one is whole: a file cut
// short is refused now rather than showing a frame with a missing bottom later.
bool FileSource::D::checkStriles(int file, const Page& page, std::uint64_t fileSize, std::string* why)
{
    const std::string& name = files[static_cast<std::size_t>(file)];
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    const std::uint32_t count = page.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    std::uint32_t height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    for (std::uint32_t i = 0; i < count; ++i) {
        int problem = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &problem);
        const std::uint64_t bytes = TIFFGetStrileByteCountWithErr(tif, i, &problem);
        std::uint64_t expected = 1;
        if (compression == COMPRESSION_NONE) {
            const std::uint64_t rows = std::min<std::uint64_t>(
                std::uint64_t(page.rowsPerStep), height - std::uint64_t(i) * std::uint64_t(page.rowsPerStep));
            expected = page.tiled ? std::uint64_t(TIFFTileSize64(tif))
                                  : std::uint64_t(TIFFVStripSize64(tif, static_cast<std::uint32_t>(rows)));
        }
        if (problem || bytes < expected || offset > fileSize || bytes > fileSize - offset) {
            *why = name + ": the file is truncated or damaged (" + (page.tiled ? "tile " : "strip ") + std::to_string(i)
                + " lies beyond its end)";
            return false;
        }
    }
    return true;
}

bool FileSource::D::scan(int file, std::string* why)
{
    if (!open(file, why))
        return false;
    do {
        Page page;
        FrameFormat pageFormat;
        if (!readPage(file, &page, &pageFormat, why))
            return false;
        if (pages.empty()) {
            format = pageFormat;
        } else if (pageFormat != format) {
            *why = files[static_cast<std::size_t>(file)] + ": frames of " + describe(pageFormat)
                + " differ from the first frame's " + describe(format);
            return false;
        }
        pages.push_back(page);
    } while (TIFFReadDirectory(tif));
    if (messages.errorSeen()) {
        *why = complaint(file, "");
        return false;
    }
    return true;
}

bool FileSource::D::readLines(const Page& page, FrameBuffer& target, int first, int last, std::string* why)
{
    if (!open(page.file, why))
        return false;
    if (TIFFCurrentDirectory(tif) != page.directory && !TIFFSetDirectory(tif, page.directory)) {
        *why = complaint(page.file, "cannot read page " + std::to_string(page.directory + 1));
        return false;
    }
    const int channels = format.channels();
    const std::size_t rowSamples = std::size_t(format.width) * std::size_t(channels);
    // One strip or tile, or a whole row of tiles in place.
    const tmsize_t chunkSize = page.tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (chunkSize <= 0) {
        *why = complaint(page.file, "the image has no data");
        return false;
    }
    chunk.resize(static_cast<std::size_t>(chunkSize));
    const int rows = last - first;
    auto store = [&](const std::uint8_t* in, std::uint16_t* out, std::size_t samples) {
        if (page.sampleBytes == 1)
            std::copy(in, in + samples, out);
        else
            std::memcpy(out, in, samples * 2);
    };
    if (!page.tiled) {
        const tstrip_t strip = TIFFComputeStrip(tif, static_cast<std::uint32_t>(first), 0);
        const tmsize_t want = static_cast<tmsize_t>(rows) * static_cast<tmsize_t>(rowSamples * page.sampleBytes);
        if (TIFFReadEncodedStrip(tif, strip, chunk.data(), want) < want) {
            *why = complaint(page.file, "cannot read strip " + std::to_string(strip));
            return false;
        }
        for (int y = 0; y < rows; ++y)
            store(chunk.data() + std::size_t(y) * rowSamples * page.sampleBytes, target.line(first + y), rowSamples);
        return true;
    }
    std::uint32_t tileWidth = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    const std::size_t tileRowBytes = std::size_t(tileWidth) * channels * page.sampleBytes;
    for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(format.width); x += tileWidth) {
        const ttile_t tile = TIFFComputeTile(tif, x, static_cast<std::uint32_t>(first), 0, 0);
        if (TIFFReadEncodedTile(tif, tile, chunk.data(), chunkSize) < chunkSize) {
            *why = complaint(page.file, "cannot read tile " + std::to_string(tile));
            return false;
        }
        const std::size_t columns = std::min<std::size_t>(tileWidth, std::size_t(format.width) - x);
        for (int y = 0; y < rows; ++y)
            store(chunk.data() + std::size_t(y) * tileRowBytes, target.line(first + y) + std::size_t(x) * channels,
                  columns * channels);
    }
    return true;
}

bool FileSource::D::waitUntil(std::uint64_t due)
{
    MutexLocker lock(mutex);
    return sleepUntilOrCancelled(lock, wake, cancelled, due);
}

std::vector<std::string> FileSource::resolve(const std::string& path, std::string* reason)
{
    const std::size_t hash = path.rfind('#');
    if (hash != std::string::npos) {
        std::vector<std::string> files = seriesAround(path.substr(0, hash), 0, path.substr(hash + 1));
        if (files.empty())
            *reason = "no file " + numbered(path.substr(0, hash), 0, path.substr(hash + 1));
        return files;
    }
    if (!isRegularFile(path)) {
        struct stat info;
        *reason = path + ": " + (::stat(path.c_str(), &info) != 0 ? std::strerror(errno) : "not a regular file");
        return {};
    }
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        dot = path.size();
    std::size_t digits = dot;
    while (digits > nameStart && path[digits - 1] >= '0' && path[digits - 1] <= '9')
        --digits;
    const std::string number = path.substr(digits, dot - digits);
    // Only names the save writes: a number of five digits or more, padded to five.
    if (number.size() < std::size_t(seriesDigits) || number.size() > 18)
        return {path};
    const std::int64_t index = std::strtoll(number.c_str(), nullptr, 10);
    const std::string stem = path.substr(0, digits);
    const std::string suffix = path.substr(dot);
    if (numbered(stem, index, suffix) != path)
        return {path};
    return seriesAround(stem, index, suffix);
}

FileSource::FileSource(const Settings& settings)
    : d(new D)
{
    d->settings = settings;
    std::string why;
    d->files = resolve(settings.path, &why);
    bool ok = !d->files.empty();
    for (std::size_t i = 0; ok && i < d->files.size(); ++i)
        ok = d->scan(static_cast<int>(i), &why);
    d->close();
    d->usable = ok;
    if (ok)
        d->findPeriods();
    if (!ok) {
        d->pages.clear();
        d->format = FrameFormat();
    }
    MutexLocker lock(d->mutex);
    d->error = why;
}

FileSource::~FileSource() = default;

bool FileSource::isUsable() const
{
    return d->usable;
}

std::string FileSource::lastError() const
{
    MutexLocker lock(d->mutex);
    return d->error;
}

std::string FileSource::problem() const
{
    return lastError();
}

std::vector<std::string> FileSource::files() const
{
    return d->files;
}

int FileSource::frameCount() const
{
    return static_cast<int>(d->pages.size());
}

FrameFormat FileSource::format() const
{
    return d->format;
}

bool FileSource::setFormat(const FrameFormat& format)
{
    return format == d->format;
}

FrameSource::Status FileSource::status() const
{
    MutexLocker lock(d->mutex);
    Status status;
    status.connected = d->usable && !d->failed; // a file that failed to read is gone until the next start
    status.clock = d->running;
    return status;
}

bool FileSource::start()
{
    if (!d->usable)
        return false;
    // Files replaced since the last run are read anew.
    d->close();
    MutexLocker lock(d->mutex);
    d->error.clear();
    d->running = true;
    d->cancelled = false;
    d->failed = false;
    d->startTime = StopWatch::nowMicroseconds();
    d->next = 0;
    d->announced = false;
    d->arrived = false;
    return true;
}

void FileSource::stop()
{
    {
        MutexLocker lock(d->mutex);
        d->running = false;
        d->cancelled = true;
    }
    d->wake.notify_all();
}

void FileSource::cancel()
{
    {
        MutexLocker lock(d->mutex);
        d->cancelled = true;
    }
    d->wake.notify_all();
}

FrameSource::Delivery FileSource::waitForFrame()
{
    std::uint64_t due;
    {
        MutexLocker lock(d->mutex);
        // A frame whose time has come is delivered whole even if a stop comes now: the
        // caller may already have made room for it.
        if (d->announced && d->arrived)
            return Delivery::Frame;
        if (d->failed || !d->usable)
            return Delivery::Failed;
        if (d->cancelled)
            return Delivery::Cancelled;
        if (!d->announced) {
            if (!d->settings.loop && d->next >= d->pages.size())
                return Delivery::Ended;
            d->announced = true;
        }
        const double fps = d->settings.framesPerSecond;
        const std::uint64_t frameTime = fps > 0 ? static_cast<std::uint64_t>(1e6 / fps) : 0;
        due = d->startTime + d->next * frameTime;
    }
    if (!d->waitUntil(due))
        return Delivery::Cancelled;
    MutexLocker lock(d->mutex);
    d->arrived = true;
    return Delivery::Frame;
}

FrameSource::Delivery FileSource::deliverFrame(FrameBuffer* target, const Progress& progress)
{
    const Delivery waited = waitForFrame();
    if (waited != Delivery::Frame)
        return waited;
    std::size_t n;
    std::uint64_t pass;
    {
        MutexLocker lock(d->mutex);
        n = static_cast<std::size_t>(d->next % d->pages.size());
        pass = d->next / d->pages.size();
        ++d->next;
        d->announced = false;
        d->arrived = false;
    }
    const D::Page& page = d->pages[n];
    std::string why;
    FramePublisher publisher(target, progress);
    const bool whole = publisher.writeInSteps(
        d->format, page.rowsPerStep, [&why](int) { return why.empty(); },
        [&](FrameBuffer& buffer, int first, int last) {
            if (why.empty() && !d->readLines(page, buffer, first, last, &why) && why.empty())
                why = d->files[static_cast<std::size_t>(page.file)] + ": cannot be read";
        });
    if (!whole || !why.empty()) {
        // The handle may be in any state after a failed read.
        d->close();
        MutexLocker lock(d->mutex);
        d->failed = true;
        d->error = why;
        return Delivery::Failed;
    }
    if (target && page.haveIndex)
        target->setFrameIndex(page.index + static_cast<std::int64_t>(pass) * d->indexPeriod);
    const bool fileTime = page.haveTime && (pass == 0 || d->timePeriod > 0);
    publisher.finish(fileTime ? page.time + pass * d->timePeriod : StopWatch::nowMicroseconds(), 0, 0);
    return Delivery::Frame;
}

} // namespace core
} // namespace vexo
