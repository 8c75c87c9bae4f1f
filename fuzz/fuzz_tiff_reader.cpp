// Reads fuzzed files through FileSource. An input is either a raw file, or a small frame
// buffer saved by TiffWriter and then damaged (bytes overwritten, the file cut short).
// Whatever the file, the source must not crash, must refuse or fail with a message that
// names the file, and libtiff must never reach its process-wide handlers (stderr). An
// undamaged saved frame must come back bit for bit, with its index and time stamp.

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <tiffio.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using vexo::core::FileSource;
using vexo::core::FrameBuffer;
using vexo::core::FrameSource;

namespace {

[[noreturn]] void fail(const char* what, long long a = 0, long long b = 0)
{
    std::fprintf(stderr, "fuzz_tiff_reader: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

std::string folder;

void processWideHandler(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    std::fprintf(stderr, "fuzz_tiff_reader: libtiff's process-wide handler was called: %s: %s\n",
                 module ? module : "libtiff", text);
    std::abort();
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        fail("cannot write the input file");
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(f);
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        base = tmp;
    std::string pattern = std::string(base) + "/vexo-fuzz-tiff-reader-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail("cannot create a temporary folder");
    folder = pattern;
    TIFFSetErrorHandler(processWideHandler);
    TIFFSetWarningHandler(processWideHandler);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const std::string path = folder + "/frame.tif";
    const bool saved = in.ConsumeBool();
    std::unique_ptr<FrameBuffer> original;
    bool damaged = false;
    if (saved) {
        const int width = in.ConsumeIntegralInRange<int>(1, 24);
        const int height = in.ConsumeIntegralInRange<int>(1, 24);
        const int bits = in.ConsumeIntegralInRange<int>(1, 16);
        const bool gray = in.ConsumeBool();
        original.reset(new FrameBuffer(width, height, bits, gray));
        original->setFrameIndex(in.ConsumeIntegral<std::int64_t>());
        original->setTimestamp(in.ConsumeIntegral<std::uint64_t>());
        const std::uint32_t mask = (1u << bits) - 1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width * original->channels(); ++x)
                original->line(y)[x] = static_cast<std::uint16_t>(in.ConsumeIntegral<std::uint16_t>() & mask);
        original->setComplete();
        if (original->saveTiff(path) != 0)
            fail("TiffWriter failed");
        std::vector<std::uint8_t> bytes = readFile(path);
        const int edits = in.ConsumeIntegralInRange<int>(0, 4);
        for (int i = 0; i < edits && !bytes.empty(); ++i) {
            const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, bytes.size() - 1);
            const std::uint8_t value = in.ConsumeIntegral<std::uint8_t>();
            damaged = damaged || bytes[at] != value;
            bytes[at] = value;
        }
        if (in.ConsumeBool()) {
            bytes.resize(in.ConsumeIntegralInRange<std::size_t>(0, bytes.size()));
            damaged = true;
        }
        writeFile(path, bytes);
    } else {
        writeFile(path, in.ConsumeRemainingBytes<std::uint8_t>());
        damaged = true;
    }

    FileSource::Settings settings;
    settings.path = path;
    FileSource source(settings);
    if (!source.isUsable()) {
        if (!damaged)
            fail("a saved frame was refused");
        if (source.lastError().find(path) == std::string::npos)
            fail("the refusal does not name the file");
        return 0;
    }
    const vexo::core::FrameFormat f = source.format();
    if (f.width <= 0 || f.height <= 0 || f.bitsPerPixel < 1 || f.bitsPerPixel > 16)
        fail("a usable source with an impossible format", f.width, f.bitsPerPixel);
    // Large claimed frames are not worth the memory of a buffer here.
    if (std::uint64_t(f.width) * std::uint64_t(f.height) > (1u << 16) || source.frameCount() > 64)
        return 0;
    if (!source.start())
        fail("a usable source does not start");
    FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
    for (int i = 0; i < source.frameCount(); ++i) {
        const FrameSource::Delivery got = source.deliverFrame(&frame, {});
        if (got == FrameSource::Delivery::Failed) {
            if (!damaged)
                fail("a saved frame failed to read");
            if (source.problem().find(path) == std::string::npos)
                fail("the failure does not name the file");
            return 0;
        }
        if (got != FrameSource::Delivery::Frame)
            fail("a frame neither delivered nor failed", int(got));
    }
    if (source.deliverFrame(&frame, {}) != FrameSource::Delivery::Ended)
        fail("the file does not end after its frames");
    if (damaged)
        return 0;
    if (f.width != original->width() || f.height != original->height() || f.gray != original->isGray()
        || f.bitsPerPixel != original->bitsPerPixel())
        fail("the saved format came back changed", f.width, f.bitsPerPixel);
    if (frame.frameIndex() != original->frameIndex() || frame.timestamp() != original->timestamp())
        fail("the frame index or time stamp came back changed");
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width * frame.channels(); ++x) {
            const unsigned want = std::min<unsigned>(original->line(y)[x], original->bitsPerPixel() <= 8 ? 255 : 65535);
            if (frame.line(y)[x] != want)
                fail("a sample came back changed", x, y);
        }
    return 0;
}
