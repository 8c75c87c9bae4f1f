// Saves a small fuzzed frame buffer as TIFF, reads the file back with libtiff and compares
// the tags and every sample with what the buffer was given: 8-bit samples clamped to 255
// for depths up to 8, 16-bit samples unchanged above. Buffers without pixels must fail and
// leave an existing file at the target as it was. Either way nothing else may be left in
// the folder: a stray temporary shows.

#include "vexo-lib-display/FrameBuffer.h"

#include <tiffio.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using vexo::core::FrameBuffer;

namespace {

[[noreturn]] void fail(const char* what, long long a = 0, long long b = 0, long long c = 0)
{
    std::fprintf(stderr, "fuzz_tiff_writer: %s (%lld, %lld, %lld)\n", what, a, b, c);
    std::abort();
}

std::string folder;
std::string readError;

// The reader's errors fail the input; its warnings (none expected) are ignored.
void onReadError(const char* module, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    if (readError.empty())
        readError = std::string(module ? module : "libtiff") + ": " + text;
}

// Names in the folder, hidden ones included.
std::vector<std::string> entries()
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        fail("cannot list the temporary folder");
    while (const dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string fileContents(const std::string& path)
{
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            text.append(chunk, n);
        std::fclose(f);
    }
    return text;
}

void writeFile(const std::string& path, const std::string& text)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(text.data(), 1, text.size(), f) != text.size() || std::fclose(f) != 0)
        fail("cannot write the existing target");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // A memory-backed folder where there is one: every save ends with an fsync. libFuzzer
    // leaves through _Exit, so the (then empty) folder stays: scripts/fuzz points TMPDIR
    // at a folder of its own and removes that.
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        base = tmp;
    std::string pattern = std::string(base) + "/vexo-fuzz-tiff-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail("cannot create a temporary folder");
    folder = pattern;
    TIFFSetErrorHandler(onReadError);
    TIFFSetWarningHandler(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);

    // Zero and negative sizes as well: those must fail.
    const int requestedWidth = in.ConsumeIntegralInRange<int>(-1, 40);
    const int requestedHeight = in.ConsumeIntegralInRange<int>(-1, 40);
    const int requestedBits = in.ConsumeIntegralInRange<int>(0, 17);
    const bool gray = in.ConsumeBool();
    const bool existing = in.ConsumeBool();
    const std::int64_t frameIndex = in.ConsumeIntegral<std::int64_t>();
    const std::uint64_t timestamp = in.ConsumeIntegral<std::uint64_t>();
    const int range = in.ConsumeIntegralInRange<int>(0, 1);
    const std::vector<std::uint8_t> bytes = in.ConsumeRemainingBytes<std::uint8_t>();

    const int width = std::max(requestedWidth, 0);
    const int height = std::max(requestedHeight, 0);
    const int bits = std::clamp(requestedBits, 1, 16);
    const int channels = gray ? 1 : 3;

    FrameBuffer buffer(requestedWidth, requestedHeight, requestedBits, gray);
    buffer.setFrameIndex(frameIndex);
    buffer.setTimestamp(timestamp);

    // Samples within the depth or anything 16 bits hold, cycled from the input.
    std::vector<std::uint16_t> model(static_cast<std::size_t>(width) * height * channels);
    std::size_t next = 0;
    for (int y = 0; width > 0 && y < height; ++y) {
        std::uint16_t* line = buffer.line(y);
        if (!line)
            fail("no line", y);
        for (int i = 0; i < width * channels; ++i) {
            std::uint16_t v = 0;
            if (!bytes.empty()) {
                v = static_cast<std::uint16_t>(bytes[next % bytes.size()] << 8 | bytes[(next + 1) % bytes.size()]);
                next += 2;
            }
            if (range == 0)
                v = static_cast<std::uint16_t>(v & ((1u << bits) - 1));
            line[i] = v;
            model[static_cast<std::size_t>(y) * width * channels + i] = v;
        }
    }

    const std::string path = folder + "/frame.tif";
    const std::string before = "not a TIFF file\n";
    if (existing)
        writeFile(path, before);

    const int result = buffer.saveTiff(path);
    const std::vector<std::string> left = entries();

    if (width == 0 || height == 0) {
        if (result == 0)
            fail("an image without pixels was saved", width, height);
        if (existing) {
            if (left.size() != 1 || left[0] != "frame.tif" || fileContents(path) != before)
                fail("a failed save changed the existing file", long(left.size()));
            ::unlink(path.c_str());
        } else if (!left.empty()) {
            fail("a failed save left files behind", long(left.size()));
        }
        return 0;
    }

    if (result != 0)
        fail("save failed", width, height, bits);
    if (left.size() != 1 || left[0] != "frame.tif")
        fail("the folder holds other files than the target", long(left.size()));

    readError.clear();
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        fail(("cannot open the saved file: " + readError).c_str());

    std::uint32_t fileWidth = 0, fileHeight = 0;
    std::uint16_t samplesPerPixel = 0, bitsPerSample = 0, photometric = 0, planar = 0, compression = 0,
                  sampleFormat = 0;
    char* description = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &fileWidth) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &fileHeight)
        || !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel)
        || !TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bitsPerSample)
        || !TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)
        || !TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar)
        || !TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression)
        || !TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat)
        || !TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description))
        fail("a tag is missing");
    const unsigned wantBits = bits > 8 ? 16 : 8;
    if (fileWidth != unsigned(width) || fileHeight != unsigned(height) || samplesPerPixel != channels
        || bitsPerSample != wantBits)
        fail("format", fileWidth, fileHeight, bitsPerSample);
    if (photometric != (gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB) || planar != PLANARCONFIG_CONTIG
        || compression != COMPRESSION_NONE || sampleFormat != SAMPLEFORMAT_UINT)
        fail("layout", photometric, planar, compression);
    char text[128];
    std::snprintf(text, sizeof text, "frameIndex=%lld timestamp=%llu bitsPerPixel=%d",
                  static_cast<long long>(frameIndex), static_cast<unsigned long long>(timestamp), bits);
    if (std::strcmp(description, text) != 0) {
        std::fprintf(stderr, "description \"%s\", expected \"%s\"\n", description, text);
        fail("description");
    }

    const std::size_t perRow = static_cast<std::size_t>(width) * channels;
    if (TIFFScanlineSize64(tif) != perRow * (wantBits / 8))
        fail("scanline size", static_cast<long long>(TIFFScanlineSize64(tif)));
    std::vector<std::uint8_t> row(perRow * 2);
    for (int y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0) != 1)
            fail(("cannot read a line: " + readError).c_str(), y);
        for (std::size_t i = 0; i < perRow; ++i) {
            const std::uint16_t want = model[static_cast<std::size_t>(y) * perRow + i];
            std::uint16_t got;
            if (wantBits == 16) {
                std::memcpy(&got, row.data() + 2 * i, 2);
            } else {
                got = row[i];
                if (want > 255 ? got != 255 : got != want)
                    fail("8-bit sample: index, got, written", long(y * perRow + i), got, want);
                continue;
            }
            if (got != want)
                fail("16-bit sample: index, got, written", long(y * perRow + i), got, want);
        }
    }
    // One image only.
    if (TIFFReadDirectory(tif) != 0)
        fail("more than one image in the file");
    TIFFClose(tif);
    if (!readError.empty())
        fail(("libtiff: " + readError).c_str());

    ::unlink(path.c_str());
    return 0;
}
