// Frames replayed from TIFF files: saved rings come back bit for bit, bad files are
// refused by name, a series ends or loops, and a wait can be cancelled.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/FileSource.h"

#include <QTemporaryDir>
#include <QtTest>

#include <tiffio.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <random>

using vexo::core::FileSource;
using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;

namespace {

// A frame of random values within its depth (the top bit set often, to catch byte order
// and narrowing), with an index and a time stamp beyond 32 bits.
std::unique_ptr<FrameBuffer> randomFrame(const FrameFormat& f, int i)
{
    std::unique_ptr<FrameBuffer> b(new FrameBuffer(f.width, f.height, f.bitsPerPixel, f.gray));
    std::mt19937 random(1234u + unsigned(i));
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width * f.channels(); ++x)
            b->line(y)[x] = static_cast<std::uint16_t>(random() & ((1u << f.bitsPerPixel) - 1));
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
        // The names the window's "save sequence" gives.
        paths.push_back(dir.filePath(QString("%1%2.tif").arg(stem).arg(i, 5, 10, QChar('0'))).toStdString());
        if (randomFrame(f, i)->saveTiff(paths.back()) != 0)
            return {};
    }
    return paths;
}

// How a file written here with libtiff directly looks; the fields most rows change come first.
struct Layout
{
    int bits = 16;
    int samples = 1;
    int maxValue = -1; // SMaxSampleValue, -1: none
    int pages = 1;
    bool tiled = false; // in tiles of 16 x 16, else in one strip a plane
    int compression = COMPRESSION_NONE;
    int height = 35; // 41 x 35: not a multiple of the tile size
    bool shortStrip = false; // the strip holds half its rows
    int sampleFormat = SAMPLEFORMAT_UINT;
    int planar = PLANARCONFIG_CONTIG;
    int width = 41;
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
        TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, ("frameIndex=" + std::to_string(500 + p)).c_str());
        const int planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
        const int perPixel = planes == 1 ? l.samples : 1;
        // The samples of a strip or a tile; those of a tile beyond the image do not matter.
        auto chunk = [&](int x0, int y0, int columns, int rows, int plane) {
            std::vector<std::uint8_t> data(std::size_t(columns) * rows * perPixel * bytes);
            for (int i = 0; i < columns * rows * perPixel; ++i) {
                const unsigned v =
                    layoutValue(l, x0 + i / perPixel % columns, y0 + i / perPixel / columns, i % perPixel + plane, p);
                // The low bytes of v: this machine is little-endian, as the files are.
                std::memcpy(&data[std::size_t(i) * bytes], &v, std::size_t(bytes));
            }
            return data;
        };
        if (l.tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, 16);
            for (int y = 0; ok && y < l.height; y += 16)
                for (int x = 0; ok && x < l.width; x += 16)
                    ok = TIFFWriteTile(tif, chunk(x, y, 16, 16, 0).data(), x, y, 0, 0) > 0;
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, l.height);
            for (int plane = 0; ok && plane < planes; ++plane) {
                std::vector<std::uint8_t> data = chunk(0, 0, l.width, l.height, plane);
                ok = TIFFWriteEncodedStrip(tif, plane, data.data(), tmsize_t(data.size() / (l.shortStrip ? 2 : 1))) > 0;
            }
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

// How a bad file of the table comes about: a Layout written (and perhaps cut), or not.
enum class Bad { Written, Garbage, Missing, NoFiles };

// What was written to stderr during work: libtiff must say nothing there.
std::string stderrWhile(const std::function<void()>& work)
{
    // stderr is unbuffered: nothing waits to be flushed on either side of the capture.
    FILE* capture = std::tmpfile();
    const int saved = ::dup(2);
    ::dup2(::fileno(capture), 2);
    work();
    ::dup2(saved, 2);
    ::close(saved);
    std::rewind(capture);
    std::string said;
    for (int c = std::fgetc(capture); c != EOF; c = std::fgetc(capture))
        said += char(c);
    std::fclose(capture);
    return said;
}

} // namespace

Q_DECLARE_METATYPE(Layout)
Q_DECLARE_METATYPE(Bad)

class TestFileSource : public QObject
{
    Q_OBJECT

private slots:
    void foreignFiles_data()
    {
        QTest::addColumn<Layout>("l");
        QTest::addColumn<int>("expectedDepth");
        QTest::newRow("16 bits, SMaxSampleValue 1023") << Layout{16, 1, 1023} << 10;
        QTest::newRow("16 bits, SMaxSampleValue 1024") << Layout{16, 1, 1024} << 11;
        QTest::newRow("tiled RGB, partial tiles") << Layout{16, 3, -1, 1, true} << 16;
        QTest::newRow("three pages") << Layout{8, 1, -1, 3} << 8;
        QTest::newRow("compressed, no depth said") << Layout{16, 1, -1, 2, false, COMPRESSION_ADOBE_DEFLATE} << 16;
    }
    void foreignFiles()
    {
        QFETCH(Layout, l);
        QFETCH(int, expectedDepth);
        QTemporaryDir dir;
        const std::string path = dir.filePath("foreign.tif").toStdString();
        QVERIFY(writeLayout(path, l));
        FileSource source({path});
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.frameCount(), l.pages);
        QCOMPARE(source.format().bitsPerPixel, expectedDepth);
        QCOMPARE(source.format().gray, l.samples == 1);
        QVERIFY(source.start());
        FrameBuffer frame(l.width, l.height, source.format().bitsPerPixel, source.format().gray);
        for (int p = 0; p < l.pages; ++p) {
            QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
            QCOMPARE(frame.frameIndex(), std::int64_t(500 + p));
            for (int y = 0; y < l.height; ++y)
                for (int x = 0; x < l.width; ++x)
                    for (int s = 0; s < l.samples; ++s)
                        QCOMPARE(unsigned(frame.line(y)[x * l.samples + s]), layoutValue(l, x, y, s, p));
        }
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Ended);
    }

    void badFilesAreRefusedByName_data()
    {
        QTest::addColumn<Bad>("how");
        QTest::addColumn<Layout>("l"); // the last of a series of 41 x 35 16-bit gray frames
        QTest::addColumn<long>("keep"); // bytes of it kept: > 0 the first ones, else all but -keep
        QTest::addColumn<QString>("reason"); // a word the message must hold besides the name
        const Bad w = Bad::Written;
        const int none = COMPRESSION_NONE;
        QTest::newRow("not TIFF at all") << Bad::Garbage << Layout{} << 0L << "";
        QTest::newRow("cut after the header") << w << Layout{} << 8L << "";
        QTest::newRow("cut in the directory") << w << Layout{} << -20L << "";
        QTest::newRow("a strip shorter than its rows")
            << w << Layout{16, 1, -1, 1, false, none, 35, true} << 0L << "truncated";
        QTest::newRow("multi-page file cut in its second page") << w << Layout{16, 1, -1, 2} << -1500L << "";
        QTest::newRow("float samples") << w << Layout{32, 1, -1, 1, false, none, 35, false, SAMPLEFORMAT_IEEEFP} << 0L
                                       << "sample format";
        QTest::newRow("32-bit samples") << w << Layout{32} << 0L << "32-bit";
        QTest::newRow("colour planes apart")
            << w << Layout{8, 3, -1, 1, false, none, 35, false, SAMPLEFORMAT_UINT, PLANARCONFIG_SEPARATE} << 0L
            << "planes";
        QTest::newRow("two samples per pixel") << w << Layout{16, 2} << 0L << "samples per pixel";
        QTest::newRow("a smaller frame in the series") << w << Layout{16, 1, -1, 1, false, none, 34} << 0L << "differ";
        QTest::newRow("a shallower frame in the series") << w << Layout{16, 1, 4095} << 0L << "differ";
        QTest::newRow("no such file") << Bad::Missing << Layout{} << 0L << "No such file";
        QTest::newRow("pattern without files") << Bad::NoFiles << Layout{} << 0L << "no file";
    }
    void badFilesAreRefusedByName()
    {
        QFETCH(Bad, how);
        QFETCH(Layout, l);
        QFETCH(long, keep);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        // A good series of three; the bad file is the last one named.
        const std::vector<std::string> files = saveSeries(dir, "bad", FrameFormat{41, 35, 16, true}, 3);
        QCOMPARE(int(files.size()), 3);
        std::string bad = files.back();
        std::string open = files.front();
        if (how == Bad::Garbage) {
            std::ofstream(bad, std::ios::binary) << std::string(300, 'x');
        } else if (how == Bad::Missing) {
            open = bad = dir.filePath("nothing.tif").toStdString();
        } else if (how == Bad::NoFiles) {
            open = dir.filePath("none#.tif").toStdString();
            bad = dir.filePath("none00000.tif").toStdString();
        } else {
            QVERIFY(writeLayout(bad, l));
            QVERIFY(::truncate(bad.c_str(), keep > 0 ? keep : QFileInfo(QString::fromStdString(bad)).size() + keep)
                    == 0);
        }

        std::unique_ptr<FileSource> source;
        QCOMPARE(stderrWhile([&] { source.reset(new FileSource({open})); }), std::string());
        const QString error = QString::fromStdString(source->lastError());
        QVERIFY2(error.contains(QString::fromStdString(bad)), qPrintable(error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        // Refused whatever the scene tries.
        QVERIFY(!source->start());
        QCOMPARE(source->waitForFrame(), FrameSource::Delivery::Failed);
        QCOMPARE(source->deliverFrame(nullptr, {}), FrameSource::Delivery::Failed);
    }

    void fileDamagedWhileReplayedEndsTheRun()
    {
        QTemporaryDir dir;
        const FrameFormat f{64, 500, 16, true};
        const std::vector<std::string> files = saveSeries(dir, "cut", f, 3);
        QCOMPARE(int(files.size()), 3);
        FileSource source({files.front()});
        QVERIFY(::truncate(files[1].c_str(), QFileInfo(QString::fromStdString(files[1])).size() / 2) == 0);
        QVERIFY(source.start());
        FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
        FrameSource::Delivery second = FrameSource::Delivery::Frame;
        QCOMPARE(stderrWhile([&] { second = source.deliverFrame(&frame, {}); }), std::string());
        QCOMPARE(second, FrameSource::Delivery::Failed);
        QVERIFY2(source.problem().find(files[1]) != std::string::npos, source.problem().c_str());
        // The run stays failed until it starts again; then the first frame still plays.
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Failed);
        source.stop();
        QVERIFY(source.start());
        QVERIFY(source.problem().empty());
        QCOMPARE(source.deliverFrame(&frame, {}), FrameSource::Delivery::Frame);
        QCOMPARE(frame.frameIndex(), std::int64_t(1000));
    }

    void savedSeriesReplaysBitExact_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("openedBy"); // the file of the series named; -1: the '#' pattern
        QTest::addColumn<bool>("loop");
        QTest::newRow("gray 8, one file, looped") << 8 << true << 1 << 0 << true;
        QTest::newRow("gray 12, by a middle file, once") << 12 << true << 3 << 1 << false;
        QTest::newRow("gray 16, by its last file, looped") << 16 << true << 3 << 2 << true;
        QTest::newRow("colour 10, by pattern, once") << 10 << false << 3 << -1 << false;
    }
    void savedSeriesReplaysBitExact()
    {
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(int, files);
        QFETCH(int, openedBy);
        QFETCH(bool, loop);
        QTemporaryDir dir;
        // Odd width: rows of 8-bit samples are not a multiple of 2 or 4 bytes; several strips.
        const FrameFormat f{37, 300, bits, gray};
        const std::vector<std::string> saved = saveSeries(dir, "ring", f, files);
        QCOMPARE(int(saved.size()), files);
        const std::string path = openedBy < 0 ? dir.filePath("ring#.tif").toStdString() : saved[openedBy];
        FileSource source({path, 0, loop});
        QVERIFY2(source.isUsable(), source.lastError().c_str());
        QCOMPARE(source.files(), saved);
        QCOMPARE(source.format(), f);
        for (int run = 0; run < 2; ++run) {
            // Every start replays from the first frame.
            QVERIFY(source.start());
            FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
            // Looped: two passes and a frame; once: two deliveries past the end.
            for (int i = 0; i < (loop ? 2 * files + 1 : files + 2); ++i) {
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
                if (run == 0 && pass == 0) {
                    // Saved again, the frame is the file it came from, tags and all.
                    const std::string again = dir.filePath("again.tif").toStdString();
                    QCOMPARE(frame.saveTiff(again), 0);
                    const TiffImage was = readTiff(saved[std::size_t(i)]);
                    const TiffImage is = readTiff(again);
                    QVERIFY(!was.samples.empty() && is.header == was.header && is.description == was.description
                            && is.samples == was.samples);
                }
            }
            source.stop();
        }
        if (loop)
            return;
        // A sequence longer than the series ends with it.
        auto scene = vexo::core::DisplayScene::create(std::unique_ptr<FrameSource>(new FileSource({path, 0, false})), files + 3);
        scene->startGrabbing(0);
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 20000);
        QCOMPARE(scene->frameBufferGroup()->size(), files);
    }

    void cancelAndStopEndAWait()
    {
        QTemporaryDir dir;
        const std::vector<std::string> paths = saveSeries(dir, "slow", FrameFormat{8, 8, 8, true}, 2);
        // Often: a cancel that comes before the wait sleeps cannot tell a waiter that is not woken.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const bool byStop = attempt % 2 == 1;
            // The second frame is due in a thousand seconds.
            FileSource source({paths.front(), 0.001});
            QVERIFY(source.start());
            QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Frame);
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
            QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Cancelled);
        }
    }
};

QTEST_GUILESS_MAIN(TestFileSource)
#include "tst_file_source.moc"
