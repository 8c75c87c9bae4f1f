// Frames saved as TIFF files, read back with libtiff.

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/TiffWriter.h"

#include <tiffio.h>

#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using vexo::core::FrameBuffer;
using vexo::core::TiffWriter;

namespace {

struct TiffImage
{
    bool opened = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samplesPerPixel = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t photometric = 0;
    std::uint16_t planar = 0;
    QString description;
    std::vector<std::uint16_t> samples;
};

TiffImage readTiff(const QString& path)
{
    TiffImage image;
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return image;
    image.opened = true;
    char* description = nullptr;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &image.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &image.height);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &image.samplesPerPixel);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &image.bitsPerSample);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &image.photometric);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &image.planar);
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description))
        image.description = QString::fromUtf8(description);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize(tif)));
    const std::size_t perRow = std::size_t(image.width) * image.samplesPerPixel;
    for (std::uint32_t y = 0; y < image.height; ++y) {
        if (TIFFReadScanline(tif, row.data(), y, 0) != 1) {
            image.opened = false;
            break;
        }
        for (std::size_t i = 0; i < perRow; ++i) {
            if (image.bitsPerSample == 16)
                image.samples.push_back(reinterpret_cast<const std::uint16_t*>(row.data())[i]);
            else
                image.samples.push_back(row[i]);
        }
    }
    TIFFClose(tif);
    return image;
}

// Every sample of the buffer, row by row; the first is `top`, the others step through
// 0..top with a stride that is odd, so neighbours differ and both ends of the range occur.
std::vector<std::uint16_t> fillPattern(FrameBuffer& buffer, std::uint32_t top, std::uint32_t seed = 0)
{
    std::vector<std::uint16_t> written;
    std::uint64_t k = 0;
    for (int y = 0; y < buffer.height(); ++y) {
        std::uint16_t* samples = buffer.line(y);
        for (int i = 0; i < buffer.width() * buffer.channels(); ++i, ++k) {
            const auto value =
                static_cast<std::uint16_t>(k == 0 ? top : (k * 40503u + seed) % (top + 1u));
            samples[i] = value;
            written.push_back(value);
        }
    }
    return written;
}

// Every entry below folder, hidden ones included, so a left-over temporary shows.
QStringList listTree(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << QDir(folder).relativeFilePath(it.next());
    entries.sort();
    return entries;
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestTiffWriter : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void failedWriteLeavesNothing_data();
    void failedWriteLeavesNothing();
    void existingTarget_data();
    void existingTarget();
    void concurrentSavesToOneTarget();
};

void TestTiffWriter::roundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    // Largest value written; above the bit depth's range where a writer over-filled.
    QTest::addColumn<int>("top");

    QTest::newRow("gray 1 bit") << 37 << 23 << 1 << true << 1;
    QTest::newRow("gray 5 bits") << 37 << 23 << 5 << true << 31;
    QTest::newRow("gray 8 bits") << 37 << 23 << 8 << true << 255;
    QTest::newRow("gray 9 bits") << 37 << 23 << 9 << true << 511;
    QTest::newRow("gray 12 bits") << 37 << 23 << 12 << true << 4095;
    QTest::newRow("gray 16 bits") << 37 << 23 << 16 << true << 65535;
    QTest::newRow("colour 8 bits") << 37 << 23 << 8 << false << 255;
    QTest::newRow("colour 12 bits") << 37 << 23 << 12 << false << 4095;
    QTest::newRow("colour 16 bits") << 37 << 23 << 16 << false << 65535;
    QTest::newRow("1x1") << 1 << 1 << 16 << true << 65535;
    QTest::newRow("one column") << 1 << 57 << 8 << true << 255;
    QTest::newRow("one row") << 57 << 1 << 12 << false << 4095;
    QTest::newRow("width 13, 1 bit") << 13 << 5 << 1 << true << 1;
    QTest::newRow("width 13, colour") << 13 << 5 << 8 << false << 255;
    QTest::newRow("many strips") << 3 << 5000 << 16 << false << 65535;
    QTest::newRow("8 bits over-filled, clamps") << 31 << 7 << 8 << true << 65535;
    QTest::newRow("4 bits colour over-filled, clamps") << 31 << 7 << 4 << false << 300;
}

void TestTiffWriter::roundTrip()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(int, top);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FrameBuffer buffer(width, height, bits, gray);
    const std::vector<std::uint16_t> written = fillPattern(buffer, static_cast<std::uint32_t>(top));
    // Beyond 32 bits, so a narrowed or signed conversion shows.
    buffer.setFrameIndex(4294967301LL);
    buffer.setTimestamp(18446744073709551615ULL);

    const QString path = dir.filePath("frame.tif");
    QCOMPARE(buffer.saveTiff(QFile::encodeName(path).toStdString()), 0);
    QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});

    const TiffImage image = readTiff(path);
    QVERIFY(image.opened);
    QCOMPARE(image.width, std::uint32_t(width));
    QCOMPARE(image.height, std::uint32_t(height));
    QCOMPARE(image.samplesPerPixel, std::uint16_t(gray ? 1 : 3));
    QCOMPARE(image.bitsPerSample, std::uint16_t(bits <= 8 ? 8 : 16));
    QCOMPARE(image.photometric, std::uint16_t(gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
    QCOMPARE(image.planar, std::uint16_t(PLANARCONFIG_CONTIG));
    const QStringList fields = image.description.split(' ');
    QVERIFY2(fields.contains("frameIndex=4294967301"), qPrintable(image.description));
    QVERIFY2(fields.contains("timestamp=18446744073709551615"), qPrintable(image.description));
    QVERIFY2(fields.contains(QString("bitsPerPixel=%1").arg(bits)), qPrintable(image.description));

    QCOMPARE(image.samples.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const std::uint16_t expected =
            bits <= 8 ? std::min<std::uint16_t>(written[i], 255) : written[i];
        if (image.samples[i] != expected)
            QFAIL(qPrintable(QString("sample %1: %2 instead of %3")
                                 .arg(i).arg(image.samples[i]).arg(expected)));
    }
}

void TestTiffWriter::failedWriteLeavesNothing_data()
{
    QTest::addColumn<QString>("target");      // relative to the test folder unless absolute
    QTest::addColumn<QStringList>("files");   // set up beforehand
    QTest::addColumn<QStringList>("folders"); // set up beforehand
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("missing folder") << "missing/frame.tif" << QStringList() << QStringList() << 8 << 8;
    // Root ignores permission bits; a path through a regular file fails for everyone.
    QTest::newRow("parent is a file") << "plain/frame.tif" << QStringList{"plain"} << QStringList()
                                      << 8 << 8;
    QTest::newRow("unwritable file system") << "/proc/vexo-frame.tif" << QStringList()
                                            << QStringList() << 8 << 8;
    // The image is complete here; only the final rename fails.
    QTest::newRow("target is a folder") << "frames" << QStringList() << QStringList{"frames"} << 8
                                        << 8;
    QTest::newRow("target ends in a slash") << "frame.tif/" << QStringList() << QStringList() << 8
                                            << 8;
    QTest::newRow("empty path") << "" << QStringList() << QStringList() << 8 << 8;
    QTest::newRow("no columns") << "frame.tif" << QStringList() << QStringList() << 0 << 8;
    QTest::newRow("no rows") << "frame.tif" << QStringList() << QStringList() << 8 << 0;
    QTest::newRow("0x0") << "frame.tif" << QStringList() << QStringList() << 0 << 0;
}

void TestTiffWriter::failedWriteLeavesNothing()
{
    QFETCH(QString, target);
    QFETCH(QStringList, files);
    QFETCH(QStringList, folders);
    QFETCH(int, width);
    QFETCH(int, height);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString& name : files) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    for (const QString& name : folders)
        QVERIFY(QDir(dir.path()).mkdir(name));
    const QStringList before = listTree(dir.path());
    const QString path = target.isEmpty() || QDir::isAbsolutePath(target) ? target
                                                                          : dir.filePath(target);

    FrameBuffer buffer(width, height, 12, true);
    fillPattern(buffer, 4095);
    TiffWriter writer(buffer);
    QVERIFY(writer.write(QFile::encodeName(path).toStdString()) != 0);
    QVERIFY(!writer.errorMessage().empty());
    QCOMPARE(listTree(dir.path()), before);
    if (QDir::isAbsolutePath(target))
        QVERIFY(!QFileInfo::exists(target));
}

void TestTiffWriter::existingTarget_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("replaced by the new frame") << 16 << 3 << true;
    QTest::newRow("kept when the new frame fails") << 0 << 0 << false;
}

void TestTiffWriter::existingTarget()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, replaced);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("frame.tif");
    FrameBuffer first(40, 30, 8, true);
    fillPattern(first, 255);
    first.setFrameIndex(1);
    QCOMPARE(first.saveTiff(QFile::encodeName(path).toStdString()), 0);
    const QByteArray firstBytes = fileBytes(path);

    FrameBuffer second(width, height, 12, false);
    const std::vector<std::uint16_t> written = fillPattern(second, 4095, 7);
    second.setFrameIndex(2);
    const int result = second.saveTiff(QFile::encodeName(path).toStdString());

    QCOMPARE(result == 0, replaced);
    QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});
    if (!replaced) {
        QCOMPARE(fileBytes(path), firstBytes);
        return;
    }
    const TiffImage image = readTiff(path);
    QVERIFY(image.opened);
    QCOMPARE(image.width, std::uint32_t(width));
    QCOMPARE(image.height, std::uint32_t(height));
    QCOMPARE(image.samplesPerPixel, std::uint16_t(3));
    QVERIFY(image.description.split(' ').contains("frameIndex=2"));
    QVERIFY(image.samples == written);
}

void TestTiffWriter::concurrentSavesToOneTarget()
{
    // Writers racing for one file must not share a temporary: the file left is one whole
    // frame of one writer, and no temporary remains.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = QFile::encodeName(dir.filePath("frame.tif")).toStdString();
    constexpr int writers = 4;
    std::vector<std::unique_ptr<FrameBuffer>> buffers;
    std::vector<std::vector<std::uint16_t>> written;
    for (int t = 0; t < writers; ++t) {
        buffers.push_back(std::make_unique<FrameBuffer>(64, 48, 16, true));
        written.push_back(fillPattern(*buffers.back(), 65535, std::uint32_t(t) * 1000));
        buffers.back()->setFrameIndex(t);
    }
    std::vector<int> failures(writers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i)
                failures[t] += buffers[t]->saveTiff(path) != 0;
        });
    }
    for (auto& thread : threads)
        thread.join();

    QCOMPARE(failures, std::vector<int>(writers, 0));
    QCOMPARE(listTree(dir.path()), QStringList{"frame.tif"});
    const TiffImage image = readTiff(dir.filePath("frame.tif"));
    QVERIFY(image.opened);
    const QString index = image.description.section(' ', 0, 0).section('=', 1);
    bool isNumber = false;
    const int t = index.toInt(&isNumber);
    QVERIFY2(isNumber && t >= 0 && t < writers, qPrintable(image.description));
    QVERIFY(image.samples == written[std::size_t(t)]);
}

QTEST_GUILESS_MAIN(TestTiffWriter)
#include "tst_tiff_writer.moc"
