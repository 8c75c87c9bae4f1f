#pragma once

// Helpers shared by the reliability tests: reading TIFF files back and reading the
// process's resident memory.

#include "vexo-lib-display/FrameBuffer.h"

#include <tiffio.h>

#include <QFile>

#include <cstdint>
#include <cstring>
#include <vector>

namespace reliability {

inline std::vector<std::uint16_t> samplesOf(const vexo::core::FrameBuffer& buffer)
{
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < buffer.height(); ++y) {
        const std::uint16_t* line = buffer.line(y);
        samples.insert(samples.end(), line, line + buffer.width() * buffer.channels());
    }
    return samples;
}

// The samples of a TIFF file (8 or 16 bits, contiguous); empty when it is not a readable
// TIFF of that size and number of samples per pixel.
inline std::vector<std::uint16_t> readTiff(const QString& path, int width, int height, int channels)
{
    std::vector<std::uint16_t> samples;
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return samples;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, perPixel = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &perPixel);
    if (int(w) == width && int(h) == height && int(perPixel) == channels && (bits == 8 || bits == 16)) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
                samples.clear();
                break;
            }
            for (std::size_t i = 0; i < std::size_t(w) * perPixel; ++i) {
                std::uint16_t v = row[i];
                if (bits == 16)
                    std::memcpy(&v, row.data() + 2 * i, 2);
                samples.push_back(v);
            }
        }
    }
    TIFFClose(tif);
    return samples;
}

// Resident memory of this process in KiB, from /proc; -1 where it cannot be read.
inline long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace reliability
