// Both line tools' workers: the picture each draws for a line, against one drawn here from
// the levels or bar heights worked out by hand; and through one test body for both, the
// picture store and the request a run takes.

#include "LineToolTestSupport.h"

#include "frame/NearestScale.h"

#include <QtTest>

#include <set>

using namespace linetooltest;

namespace {

// One run on the worker's own thread, waited for.
void runOnce(LineToolThread& worker, const Frame& frame, int y)
{
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.start();
    worker.waitForRun();
}

// Either tool's picture from a level per column and channel: row r stands for level 255 - r,
// a level is the curve point or bar top (white for gray, else the channel's colour), below
// it is the channel's fill (0x44), above it black. Tops of several channels mix and hide the
// fills, which mix where no top is. Level 256 is above every row: fill all the way.
QImage expectedPicture(const Values& levels, int channels)
{
    QImage picture(int(levels.size()) / channels, 256, QImage::Format_ARGB32);
    for (int x = 0; x < picture.width(); ++x)
        for (int r = 0; r < 256; ++r) {
            QRgb tops = 0, fills = 0;
            for (int c = 0; c < channels; ++c) {
                const QRgb colour = channels == 1 ? 0xFFFFFFu : 0xFF0000u >> 8 * c;
                tops |= levels[channels * x + c] == 255u - r ? colour : 0;
                fills |= levels[channels * x + c] > 255u - r ? colour & 0x444444u : 0;
            }
            picture.setPixel(x, r, 0xFF000000u | (tops != 0 ? tops : fills));
        }
    return picture;
}

// The levels of a histogram from {bin, its heights per channel, ...}; other bins are empty, 0 high.
Values bars(int channels, const Values& given)
{
    Values heights(256 * channels, 0);
    for (std::size_t i = 0; i < given.size(); i += channels + 1)
        for (int c = 0; c < channels; ++c)
            heights[given[i] * channels + c] = given[i + 1 + c];
    return heights;
}

} // namespace

class TestLineToolWorkers : public QObject
{
    Q_OBJECT

private slots:
    void pictures_data();
    void pictures();
    void pictureStore_data() { bothTools(); }
    void pictureStore();
    void nearestScale_data();
    void nearestScale();
};

void TestLineToolWorkers::pictures_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("line");   // line 1 of middleLineFrame
    QTest::addColumn<int>("y");         // the line read
    QTest::addColumn<Values>("levels"); // as expectedPicture() takes them

    // Profile, x a sample: its level is the sample on the 8-bit scale, and beyond the depth
    // 256, a full column of fill without a curve point.
    row("profile", "gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255, 256, 300, 65535} << 1
                             << Values{0, 1, 127, 128, 254, 255, 256, 256, 256};
    row("profile", "gray 9") << 9 << true << Values{511, 2, 3, 1, 512} << 1 << Values{255, 1, 1, 0, 256};
    row("profile", "gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095, 4096, 8191, 65535} << 1
                              << Values{0, 0, 1, 128, 255, 255, 256, 256, 256};
    row("profile", "gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535} << 1 << Values{0, 0, 1, 128, 255};
    row("profile", "gray 4") << 4 << true << Values{0, 1, 8, 15, 16, 17, 40, 255} << 1 << Values{0, 16, 128, 240, 256, 256, 256, 256};
    row("profile", "gray 1") << 1 << true << Values{0, 1, 1, 0, 2} << 1 << Values{0, 128, 128, 0, 256};
    // Pixel 0 (100, 100, 50): the R and G curves mix, the B curve hides the fills.
    row("profile", "colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7, 300, 10, 255, 256, 256, 0} << 1
                               << Values{100, 100, 50, 0, 255, 128, 7, 7, 7, 256, 10, 255, 256, 256, 0};
    row("profile", "colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024} << 1 << Values{255, 128, 0, 1, 0, 256};
    row("profile", "colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1} << 1 << Values{252, 128, 0, 256, 4, 4};

    // Histogram, x a bin: a bin of the largest count is 255 high, of 1/2 of it 189 (189.5
    // truncated), of 1/3 154. A value above the depth counts in the last bin.
    row("histogram", "8 bits, half the largest count") << 8 << true << Values{10, 10, 20} << 1 << bars(1, {10, 255, 20, 189});
    row("histogram", "8 bits, above the depth") << 8 << true << Values{256, 300, 255, 0} << 1 << bars(1, {0, 154, 255, 255});
    row("histogram", "1 bit") << 1 << true << Values{0, 1, 1, 2} << 1 << bars(1, {0, 189, 128, 255, 255, 189});
    row("histogram", "4 bits") << 4 << true << Values{15, 8, 16, 0xffff} << 1 << bars(1, {128, 189, 240, 189, 255, 255});
    row("histogram", "9 bits") << 9 << true << Values{511, 2, 3, 1} << 1 << bars(1, {0, 189, 1, 255, 255, 189});
    row("histogram", "12 bits") << 12 << true << Values{4095, 4096, 16, 15, 0xffff} << 1 << bars(1, {0, 154, 1, 154, 255, 255});
    row("histogram", "16 bits") << 16 << true << Values{65535, 256, 255, 32768} << 1 << bars(1, {0, 255, 1, 255, 128, 255, 255, 255});
    // Heights are relative to the largest count of all channels.
    row("histogram", "colour, a top hides the bodies") << 8 << false << Values{5, 5, 5, 7, 5, 5} << 1
                                                       << bars(3, {5, 189, 255, 255, 7, 189, 0, 0});
    row("histogram", "colour 12 bits, above the depth") << 12 << false << Values{4096, 16, 0, 4095, 32, 0xffff} << 1
                                                        << bars(3, {0, 0, 0, 189, 1, 0, 189, 0, 2, 0, 189, 0, 255, 255, 0, 189});
    // Blue alone has the largest count here.
    row("histogram", "colour 4 bits") << 4 << false << Values{15, 0xffff, 8, 0, 1, 8} << 1
                                      << bars(3, {0, 189, 0, 0, 16, 0, 189, 0, 128, 0, 0, 255, 240, 189, 0, 0, 255, 0, 189, 0});
    // No pixels: every bar is 0 high, not a 0 / 0 ratio. Reads of a line outside the buffer
    // fail, and their value 0 counts in bin 0.
    row("histogram", "empty line") << 8 << true << Values{} << 1 << bars(1, {});
    row("histogram", "line below the buffer") << 8 << true << Values{100, 100, 100} << 3 << bars(1, {0, 255});
}

void TestLineToolWorkers::pictures()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        QFETCH(int, bits); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(int, y); QFETCH(Values, levels);
        QImage picture = runOn<T>(middleLineFrame(bits, gray, line), y);
        // RGB32 words are 0xffRRGGBB: a zero top byte paints black onto surfaces with alpha. Read
        // as ARGB32 (which only a 32-bit picture can be), the comparison covers it.
        QVERIFY(picture.reinterpretAsFormat(QImage::Format_ARGB32));
        QCOMPARE(picture, expectedPicture(levels, gray ? 1 : 3));
    });
}

// A finished picture changes hands without a copy and is taken once. The next run draws
// into a picture given back, unless something still shares it, or into the older one nobody
// took; a new width makes one anew, and a run with nothing to read brings none. The request
// may change while a run reads: the run keeps to what it took at its start.
void TestLineToolWorkers::pictureStore()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        typename T::Worker worker;
        const Frame wide = linesFrame(64, 2, 8), narrow = linesFrame(32, 2, 8);
        runOnce(worker, wide, 1);
        QImage taken, none, fitted;
        QVERIFY(worker.takePicture(taken));
        QVERIFY(!worker.takePicture(none));
        const uchar* const store = taken.constBits();
        worker.recyclePicture(std::move(taken));

        const auto gated = boost::make_shared<GatedBuffer>(64, 2);
        const Frame held = linesFrame(gated, 1);
        worker.setFrame(held);
        worker.setYPosition(1);
        worker.start();
        while (!gated->entered)
            std::this_thread::yield();
        worker.setFrame(wide);
        worker.setYPosition(0);
        gated->open = true;
        worker.waitForRun();
        const QImage want = runOn<T>(held, 1);
        QVERIFY(worker.takePicture(taken));
        QCOMPARE(taken.constBits(), store);
        QCOMPARE(taken, want);

        // Shown elsewhere still: let go, not drawn into.
        const QImage shown = taken;
        worker.recyclePicture(std::move(taken));
        runOnce(worker, wide, 0);
        for (const Frame& nothingToRead : {Frame(), boost::make_shared<DisplaySceneFrame>(8, 8)})
            runOnce(worker, nothingToRead, 1);
        QVERIFY(worker.takePicture(taken));
        QVERIFY(taken.constBits() != store);
        QCOMPARE(taken, runOn<T>(wide, 0));
        QCOMPARE(shown, want);

        // Nobody takes: two stores take turns.
        std::set<const uchar*> stores;
        for (int y : {0, 1, 0, 1}) {
            runOnce(worker, wide, y);
            QVERIFY(!worker.picture.isNull());
            stores.insert(worker.picture.constBits());
        }
        QCOMPARE(stores.size(), std::size_t{2});
        QCOMPARE(worker.picture, runOn<T>(wide, 1));

        // Asked for, a copy scaled to a canvas comes with the picture.
        worker.setFitSize(QSize(7, 64));
        runOnce(worker, narrow, 1);
        QVERIFY(worker.takePicture(taken, &fitted));
        QCOMPARE(fitted, taken.scaled(7, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        QCOMPARE(taken, runOn<T>(narrow, 1));
        // A scaled copy given back is scaled into by the next run, unless still shared.
        const qint64 fittedStore = storeOf(fitted);
        worker.recycleFitted(std::move(fitted));
        runOnce(worker, narrow, 0);
        QVERIFY(worker.takePicture(taken, &fitted));
        QCOMPARE(storeOf(fitted), fittedStore);
        const QImage fittedShown = fitted;
        worker.recycleFitted(std::move(fitted));
        runOnce(worker, narrow, 1);
        QVERIFY(worker.takePicture(taken, &fitted));
        QCOMPARE(fittedShown, runOn<T>(narrow, 0).scaled(7, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        QCOMPARE(fitted, taken.scaled(7, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        worker.recyclePicture(std::move(taken));
        worker.freePicture();
        QVERIFY(worker.picture.isNull() && worker.spare.isNull() && !worker.takePicture(none));
    });
}

void TestLineToolWorkers::nearestScale_data()
{
    QTest::addColumn<QSize>("from");
    QTest::addColumn<QSize>("to");
    QTest::addColumn<QString>("store"); // what the target held before: none, kept (same size), other, shared
    // Squeezed and stretched by factors that are not whole; the same size; factors of 512 and
    // more and lines past 32767 samples, for which Qt's raster engine steps otherwise.
    QTest::newRow("overview squeezed") << QSize(640, 256) << QSize(601, 64) << "none";
    QTest::newRow("overview stretched, kept") << QSize(7, 256) << QSize(1000, 64) << "kept";
    QTest::newRow("histogram, other size") << QSize(256, 256) << QSize(1023, 767) << "other";
    QTest::newRow("histogram shrunk, shared") << QSize(256, 256) << QSize(97, 33) << "shared";
    QTest::newRow("same size, kept") << QSize(300, 256) << QSize(300, 256) << "kept";
    QTest::newRow("same size, shared") << QSize(300, 256) << QSize(300, 256) << "shared";
    QTest::newRow("factor 512 and more") << QSize(2, 256) << QSize(1025, 300) << "kept";
    QTest::newRow("past 32767 samples") << QSize(40000, 256) << QSize(777, 64) << "kept";
    QTest::newRow("one sample, one pixel") << QSize(1, 256) << QSize(1, 1) << "other";
}

// Pixel for pixel, alpha byte included, what Qt's nearest-neighbour scaling makes, into the
// kept store when its size fits and into a new one when another image still shares it.
void TestLineToolWorkers::nearestScale()
{
    QFETCH(QSize, from); QFETCH(QSize, to); QFETCH(QString, store);
    QImage source(from, QImage::Format_RGB32);
    for (int y = 0; y < from.height(); ++y)
        for (int x = 0; x < from.width(); ++x)
            source.setPixel(x, y, qRgb(x & 0xFF, (x >> 8) ^ (y << 2), y));
    QImage target = store == "none" ? QImage() : QImage(store == "other" ? to + QSize(1, 0) : to, QImage::Format_RGB32);
    target.fill(0x12345678u);
    const QImage before = target.copy();
    const QImage other = store == "shared" ? target : QImage();
    const qint64 kept = storeOf(target);
    scaleNearest(source, to, target);
    QImage want = source.scaled(to, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QVERIFY(target.reinterpretAsFormat(QImage::Format_ARGB32) && want.reinterpretAsFormat(QImage::Format_ARGB32));
    QCOMPARE(target, want);
    QCOMPARE(storeOf(target) == kept, store == "kept");
    QCOMPARE(other, store == "shared" ? before : QImage());
}

QTEST_GUILESS_MAIN(TestLineToolWorkers)
#include "tst_line_tool_workers.moc"
