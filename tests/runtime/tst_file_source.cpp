// Frames replayed from TIFF files: saved rings come back bit for bit, bad files are
// refused by name, a series ends or loops, and a wait can be cancelled.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/RingSize.h"

#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <random>

using vexo::core::DisplayScene;
using vexo::core::FileSource;
using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;

Q_DECLARE_METATYPE(FrameSource::Delivery)

namespace {

// The name the window's "save sequence" gives file i of the series `stem`.
std::string seriesFile(const QTemporaryDir& dir, const char* stem, int i)
{
    return dir.filePath(QString("%1%2.tif").arg(stem).arg(i, 5, 10, QChar('0'))).toStdString();
}

// A frame of random values within its depth (the top bit set often, to catch byte order
// and narrowing), with an index and a time stamp beyond 32 bits.
std::unique_ptr<FrameBuffer> randomFrame(const FrameFormat& f, int i)
{
    std::unique_ptr<FrameBuffer> b(new FrameBuffer(f.width, f.height, f.bitsPerPixel, f.gray));
    std::mt19937 random(1234u + unsigned(i));
    const unsigned mask = (1u << f.bitsPerPixel) - 1;
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width * f.channels(); ++x)
            b->line(y)[x] = static_cast<std::uint16_t>(random() & mask);
    b->setFrameIndex(1000 + 7 * i);
    b->setTimestamp((std::uint64_t(1) << 40) + 33333u * unsigned(i));
    b->setComplete();
    return b;
}

// Saves a ring of n random frames as a series; the paths.
std::vector<std::string> saveSeries(const QTemporaryDir& dir, const char* stem, const FrameFormat& f, int n)
{
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) {
        paths.push_back(seriesFile(dir, stem, i));
        if (randomFrame(f, i)->saveTiff(paths.back()) != 0)
            return {};
    }
    return paths;
}

// How a file written here with libtiff directly looks.
struct Layout
{
    int width = 40;
    int height = 30;
    int samples = 1;
    int bits = 16;
    int sampleFormat = SAMPLEFORMAT_UINT;
    int planar = PLANARCONFIG_CONTIG;
    bool tiled = false;
    int pages = 1;
    int maxValue = -1; // SMaxSampleValue, -1: none
    int compression = COMPRESSION_NONE;
};

// Sample s of pixel (x, y) on page p, within 8 or 16 bits.
unsigned layoutValue(const Layout& l, int x, int y, int s, int p)
{
    const unsigned v = unsigned(x * 131 + y * 71 + s * 17 + p * 1009);
    return l.bits == 8 ? v & 0xff : v & 0xffff;
}

bool writeLayout(const std::string& path, const Layout& l)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        return false;
    const int bytes = l.bits / 8;
    bool ok = true;
    for (int p = 0; ok && p < l.pages; ++p) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, l.width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, l.height);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, l.samples);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, l.bits);
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, l.sampleFormat);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, l.samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, l.planar);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, l.compression);
        if (l.maxValue >= 0)
            TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, double(l.maxValue));
        const std::string text = "frameIndex=" + std::to_string(500 + p);
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, text.c_str());
        const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
        const int perPixel = planes == 1 ? l.samples : 1;
        auto fill = [&](std::vector<std::uint8_t>& row, int x0, int y, int columns, int plane) {
            for (int x = 0; x < columns; ++x)
                for (int s = 0; s < perPixel; ++s) {
                    const unsigned v = x0 + x < l.width && y < l.height ? layoutValue(l, x0 + x, y, s + plane, p) : 0;
                    // The low bytes of v: this machine is little-endian, as the files are.
                    std::memcpy(&row[(std::size_t(x) * perPixel + s) * bytes], &v, std::size_t(bytes));
                }
        };
        if (l.tiled) {
            const int tile = 16;
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, tile);
            std::vector<std::uint8_t> data(std::size_t(TIFFTileSize(tif)));
            std::vector<std::uint8_t> row(std::size_t(tile) * perPixel * bytes);
            for (int ty = 0; ok && ty < l.height; ty += tile)
                for (int tx = 0; ok && tx < l.width; tx += tile) {
                    for (int y = 0; y < tile; ++y) {
                        fill(row, tx, ty + y, tile, 0);
                        std::copy(row.begin(), row.end(), data.begin() + std::ptrdiff_t(y * row.size()));
                    }
                    ok = TIFFWriteTile(tif, data.data(), tx, ty, 0, 0) > 0;
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 7);
            std::vector<std::uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
            for (int plane = 0; plane < planes; ++plane)
                for (int y = 0; ok && y < l.height; ++y) {
                    fill(row, 0, y, l.width, plane);
                    ok = TIFFWriteScanline(tif, row.data(), y, std::uint16_t(plane)) == 1;
                }
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

void truncateTo(const std::string& path, long size)
{
    QVERIFY(::truncate(path.c_str(), size) == 0);
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

FileSource::Settings replay(const std::string& path, bool loop = false, double fps = 0)
{
    FileSource::Settings s;
    s.path = path;
    s.loop = loop;
    s.framesPerSecond = fps;
    return s;
}

// What a source wrote to stderr while it was made: libtiff must say nothing there.
std::string stderrWhile(const std::function<void()>& work)
{
    std::fflush(stderr);
    char name[] = "/tmp/tst_file_source_stderr_XXXXXX";
    const int capture = ::mkstemp(name);
    const int saved = ::dup(2);
    ::dup2(capture, 2);
    work();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string said;
    std::ifstream in(name);
    std::getline(in, said, '\0');
    ::close(capture);
    ::unlink(name);
    return said;
}

} // namespace

Q_DECLARE_METATYPE(Layout)

class TestFileSource : public QObject
{
    Q_OBJECT

private slots:
    void savedRingComesBackBitExact_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("openedBy"); // the file of the series named; -1: the '#' pattern
        QTest::newRow("gray 8, by its first file") << 8 << true << 0;
        QTest::newRow("gray 12, by a middle file") << 12 << true << 2;
        QTest::newRow("gray 16, by its last file") << 16 << true << vexo::core::RingSize::minimum - 1;
        QTest::newRow("gray 1, by pattern") << 1 << true << -1;
        QTest::newRow("colour 8, by pattern") << 8 << false << -1;
        QTest::newRow("colour 10, by a middle file") << 10 << false << 1;
    }
    void savedRingComesBackBitExact()
    {
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(int, openedBy);
        QTemporaryDir dir;
        // Odd width: rows of 8-bit samples are not a multiple of 2 or 4 bytes; several strips.
        const FrameFormat f{37, 300, bits, gray};
        const int n = vexo::core::RingSize::minimum;
        const std::vector<std::string> saved = saveSeries(dir, "ring", f, n);
        QCOMPARE(int(saved.size()), n);

        const std::string path = openedBy < 0 ? dir.filePath("ring#.tif").toStdString() : saved[openedBy];
        std::unique_ptr<FileSource> source(new FileSource(replay(path)));
        QVERIFY2(source->isUsable(), source->lastError().c_str());
        QCOMPARE(source->files(), saved);
        QCOMPARE(source->format(), f);

        // Through a scene whose ring holds more: the series ends the sequence early.
        auto scene = DisplayScene::create(std::move(source), n + 3);
        SceneRig rig(scene);
        scene->startGrabbing(0);
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 20000);
        QVERIFY(scene->grabError().empty());
        const auto group = scene->frameBufferGroup();
        QCOMPARE(group->size(), n);
        QCOMPARE(rig.visualizer.count("stopped"), 1);
        for (int i = 0; i < n; ++i) {
            const auto buffer = group->buffer(group->frameCounter() - (n - i));
            QVERIFY(buffer);
            const std::string again = seriesFile(dir, "again", i);
            QCOMPARE(buffer->saveTiff(again), 0);
            const TiffImage before = readTiff(saved[std::size_t(i)]);
            const TiffImage after = readTiff(again);
            QVERIFY(!before.samples.empty());
            QCOMPARE(after.header, before.header);
            QCOMPARE(after.description, before.description);
            QVERIFY(after.samples == before.samples);
        }
    }

    void foreignFiles_data()
    {
        QTest::addColumn<Layout>("l"); // 41 x 35: not a multiple of the tile size
        QTest::addColumn<int>("expectedDepth");
        const auto layout = [](int bits, int samples, bool tiled, int pages, int maxValue, int compression) {
            Layout l;
            l.width = 41;
            l.height = 35;
            l.bits = bits;
            l.samples = samples;
            l.tiled = tiled;
            l.pages = pages;
            l.maxValue = maxValue;
            l.compression = compression;
            return l;
        };
        const int none = COMPRESSION_NONE;
        QTest::newRow("16 bits, no depth said") << layout(16, 1, false, 1, -1, none) << 16;
        QTest::newRow("16 bits, SMaxSampleValue 1023") << layout(16, 1, false, 1, 1023, none) << 10;
        QTest::newRow("16 bits, SMaxSampleValue 1024") << layout(16, 1, false, 1, 1024, none) << 11;
        QTest::newRow("8 bits, SMaxSampleValue 15") << layout(8, 1, false, 1, 15, none) << 4;
        QTest::newRow("tiled, partial tiles") << layout(16, 1, true, 1, -1, none) << 16;
        QTest::newRow("tiled RGB") << layout(8, 3, true, 1, -1, none) << 8;
        QTest::newRow("three pages") << layout(8, 1, false, 3, -1, none) << 8;
        QTest::newRow("compressed pages") << layout(16, 1, false, 2, -1, COMPRESSION_ADOBE_DEFLATE) << 16;
    }
    void foreignFiles()
    {
        QFETCH(Layout, l);
        QFETCH(int, expectedDepth);
        const int pages = l.pages;
        const int samples = l.samples;
        QTemporaryDir dir;
        const std::string path = dir.filePath("foreign.tif").toStdString();
        QVERIFY(writeLayout(path, l));
        FileSource source(replay(path));
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.frameCount(), pages);
        QCOMPARE(source.format().bitsPerPixel, expectedDepth);
        QCOMPARE(source.format().gray, samples == 1);
        QVERIFY(source.start());
        FrameBuffer frame(l.width, l.height, source.format().bitsPerPixel, source.format().gray);
        for (int p = 0; p < pages; ++p) {
            QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
            QCOMPARE(frame.frameIndex(), std::int64_t(500 + p));
            for (int y = 0; y < l.height; ++y)
                for (int x = 0; x < l.width; ++x)
                    for (int s = 0; s < samples; ++s)
                        if (frame.line(y)[x * samples + s] != layoutValue(l, x, y, s, p))
                            QFAIL(qPrintable(QString("page %1 pixel %2,%3 sample %4").arg(p).arg(x).arg(y).arg(s)));
        }
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Ended);
        source.stop();
    }

    void badFilesAreRefusedByName_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // a word the message must hold besides the name
        QTest::newRow("not TIFF at all") << "garbage" << "";
        QTest::newRow("empty file") << "empty" << "";
        QTest::newRow("cut after the header") << "header only" << "";
        QTest::newRow("a strip shorter than its rows") << "short strip" << "truncated";
        QTest::newRow("multi-page file cut in its second page") << "cut second page" << "";
        QTest::newRow("cut in the directory") << "cut directory" << "";
        QTest::newRow("float samples") << "float" << "sample format";
        QTest::newRow("32-bit samples") << "32 bits" << "32-bit";
        QTest::newRow("colour planes apart") << "planar" << "planes";
        QTest::newRow("two samples per pixel") << "two samples" << "samples per pixel";
        QTest::newRow("a smaller frame in the series") << "sizes differ" << "differ";
        QTest::newRow("a deeper frame in the series") << "depths differ" << "differ";
        QTest::newRow("no such file") << "missing" << "No such file";
        QTest::newRow("pattern without files") << "empty pattern" << "no file";
    }
    void badFilesAreRefusedByName()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        FrameFormat f{64, 64, 12, true};
        // A good series of three; the bad file is the last one named.
        std::vector<std::string> files = saveSeries(dir, "bad", f, 3);
        QCOMPARE(int(files.size()), 3);
        std::string bad = files.back();
        std::string open = files.front();
        const long size = long(QFileInfo(QString::fromStdString(bad)).size());
        Layout l;
        if (kind == "garbage") {
            writeBytes(bad, std::string(300, 'x'));
        } else if (kind == "empty") {
            writeBytes(bad, "");
        } else if (kind == "header only") {
            truncateTo(bad, 8);
        } else if (kind == "short strip") {
            // The directory is whole, a strip holds half its rows.
            open = bad = dir.filePath("short.tif").toStdString();
            TIFF* tif = TIFFOpen(bad.c_str(), "w");
            QVERIFY(tif);
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 64);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 64);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64);
            std::vector<std::uint8_t> data(64 * 32, 7);
            QVERIFY(TIFFWriteRawStrip(tif, 0, data.data(), tmsize_t(data.size())) > 0);
            TIFFClose(tif);
        } else if (kind == "cut second page") {
            open = bad = dir.filePath("pages.tif").toStdString();
            l.pages = 2;
            QVERIFY(writeLayout(bad, l));
            const long whole = long(QFileInfo(QString::fromStdString(bad)).size());
            truncateTo(bad, whole - whole / 4);
        } else if (kind == "cut directory") {
            truncateTo(bad, size - 20);
        } else if (kind == "float") {
            l.bits = 32;
            l.sampleFormat = SAMPLEFORMAT_IEEEFP;
        } else if (kind == "32 bits") {
            l.bits = 32;
        } else if (kind == "planar") {
            l.samples = 3;
            l.bits = 8;
            l.planar = PLANARCONFIG_SEPARATE;
        } else if (kind == "two samples") {
            l.samples = 2;
        } else if (kind == "sizes differ") {
            f.height = 63;
            QCOMPARE(randomFrame(f, 2)->saveTiff(bad), 0);
        } else if (kind == "depths differ") {
            f.bitsPerPixel = 14;
            QCOMPARE(randomFrame(f, 2)->saveTiff(bad), 0);
        } else if (kind == "missing") {
            open = bad = dir.filePath("nothing.tif").toStdString();
        } else if (kind == "empty pattern") {
            open = dir.filePath("none#.tif").toStdString();
            bad = dir.filePath("none00000.tif").toStdString();
        }
        if (kind == "float" || kind == "32 bits" || kind == "planar" || kind == "two samples") {
            QVERIFY(writeLayout(bad, l));
        }

        std::unique_ptr<FileSource> source;
        const std::string said = stderrWhile([&] { source.reset(new FileSource(replay(open))); });
        QCOMPARE(said, std::string());
        QVERIFY(!source->isUsable());
        const QString error = QString::fromStdString(source->lastError());
        QVERIFY2(error.contains(QString::fromStdString(bad)), qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        // Refused whatever the scene tries.
        QVERIFY(!source->status().connected);
        QVERIFY(!source->start());
        QCOMPARE(QString::fromStdString(source->problem()), error);
        QCOMPARE(source->waitForFrame(), FrameSource::Delivery::Failed);
        FrameBuffer frame(64, 64, 12, true);
        QCOMPARE(source->deliverFrame(&frame, {}), FrameSource::Delivery::Failed);

    }

    void fileDamagedWhileReplayedEndsTheRun()
    {
        QTemporaryDir dir;
        const FrameFormat f{64, 500, 16, true};
        const std::vector<std::string> files = saveSeries(dir, "cut", f, 3);
        QCOMPARE(int(files.size()), 3);
        FileSource source(replay(files.front()));
        QVERIFY(source.isUsable());
        truncateTo(files[1], long(QFileInfo(QString::fromStdString(files[1])).size()) / 2);
        QVERIFY(source.start());
        FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
        std::string said;
        FrameSource::Delivery second = FrameSource::Delivery::Frame;
        said = stderrWhile([&] { second = source.deliverFrame(&frame, {}); });
        QCOMPARE(second, FrameSource::Delivery::Failed);
        QCOMPARE(said, std::string());
        QVERIFY2(source.problem().find(files[1]) != std::string::npos, source.problem().c_str());
        // The run stays failed until it starts again; then the first frame still plays.
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Failed);
        source.stop();
        QVERIFY(source.start());
        QVERIFY(source.problem().empty());
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
        QCOMPARE(frame.frameIndex(), std::int64_t(1000));
    }

    void seriesEndsOrLoops_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<int>("deliveries");
        QTest::newRow("one file, once") << 1 << false << 3;
        QTest::newRow("one file, looped") << 1 << true << 4;
        QTest::newRow("three files, once") << 3 << false << 5;
        QTest::newRow("three files, looped twice and one") << 3 << true << 7;
    }
    void seriesEndsOrLoops()
    {
        QFETCH(int, files);
        QFETCH(bool, loop);
        QFETCH(int, deliveries);
        QTemporaryDir dir;
        const FrameFormat f{16, 8, 12, true};
        const std::vector<std::string> paths = saveSeries(dir, "end", f, files);
        QCOMPARE(int(paths.size()), files);
        FileSource source(replay(paths.front(), loop));
        QVERIFY(source.isUsable());
        for (int run = 0; run < 2; ++run) {
            // Every start replays from the first frame.
            QVERIFY(source.start());
            QVERIFY(source.status().clock);
            FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
            for (int i = 0; i < deliveries; ++i) {
                const bool more = loop || i < files;
                // A frame consumed without a buffer counts like one delivered.
                const std::uint64_t before = vexo::core::StopWatch::nowMicroseconds();
                const FrameSource::Delivery got = source.deliverFrame(i == 1 ? nullptr : &frame, {});
                const std::uint64_t after = vexo::core::StopWatch::nowMicroseconds();
                QCOMPARE(got, more ? FrameSource::Delivery::Frame : FrameSource::Delivery::Ended);
                if (!more || i == 1)
                    continue;
                // Later passes go on counting: the indices 1000, 1007, ... span 7 * files
                // numbers a pass, the time stamps 33333 us a frame.
                const auto expected = randomFrame(f, i % files);
                const int pass = i / files;
                QCOMPARE(frame.frameIndex(), expected->frameIndex() + pass * (files == 1 ? 1 : 7 * (files - 1) + 1));
                if (pass == 0 || files > 1)
                    QCOMPARE(frame.timestamp(), expected->timestamp() + std::uint64_t(pass) * 33333u * unsigned(files));
                else
                    QVERIFY(frame.timestamp() >= before && frame.timestamp() <= after); // the arrival
                QVERIFY(samplesOf(frame) == samplesOf(*expected));
            }
            source.stop();
            QVERIFY(!source.status().clock);
        }
    }

    void cancelEndsAWait_data()
    {
        QTest::addColumn<bool>("byStop");
        QTest::newRow("cancel") << false;
        QTest::newRow("stop") << true;
    }
    void cancelEndsAWait()
    {
        QFETCH(bool, byStop);
        QTemporaryDir dir;
        const FrameFormat f{8, 8, 8, true};
        const std::vector<std::string> paths = saveSeries(dir, "slow", f, 2);
        // The second frame is due in a thousand seconds.
        FileSource source(replay(paths.front(), false, 0.001));
        QVERIFY(source.start());
        FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
        // Told just before the wait begins, so that the cancel almost always finds it waiting.
        std::promise<void> waiting;
        auto got = std::async(std::launch::async, [&] {
            waiting.set_value();
            return source.waitForFrame();
        });
        waiting.get_future().wait();
        if (byStop)
            source.stop();
        else
            source.cancel();
        QCOMPARE(got.get(), FrameSource::Delivery::Cancelled);
        // Until the next start.
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Cancelled);
    }
};

QTEST_GUILESS_MAIN(TestFileSource)
#include "tst_file_source.moc"
