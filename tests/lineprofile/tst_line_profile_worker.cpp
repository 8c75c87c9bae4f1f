// The line profile worker: the picture it draws for a line, and its picture store.

#include "ProfileTestSupport.h"

#include <QtTest>

using namespace profiletest;

// A pixel worked out by hand, which pins the rules the whole picture is compared with.
struct Probe
{
    int x;
    int row;
    std::uint32_t word;
};
using Probes = std::vector<Probe>;
Q_DECLARE_METATYPE(Probes)

namespace {

// One run on the calling test's worker, waited for.
void runOnce(Qt4LineProfileThread& worker, const Frame& frame, int y)
{
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.frame = frame;
        worker.yPosition = y;
    }
    worker.start();
    QVERIFY(worker.wait());
    // The run's last use of the lock orders its drawing before the checks; the wait itself
    // is invisible to the thread sanitizer.
    std::lock_guard<std::mutex> settled(worker.mutex);
}

// The worker's picture against the rules; also that it wraps the store as W x 256 RGB32.
QString compareWithRules(const Qt4LineProfileThread& worker, const FrameBuffer& buffer, int y)
{
    if (!worker.image || worker.image->format() != QImage::Format_RGB32
        || worker.image->bytesPerLine() != buffer.width() * 4
        || worker.image->constBits() != worker.buffer)
        return QStringLiteral("the picture does not wrap the store");
    return firstDifference(*worker.image, expectedPicture(buffer, y));
}

} // namespace

class TestLineProfileWorker : public QObject
{
    Q_OBJECT

private slots:
    void pictureFollowsRules_data();
    void pictureFollowsRules();
    void storeReusedUntilWidthChanges();
    void runWithoutBufferKeepsPicture();
};

void TestLineProfileWorker::pictureFollowsRules_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("line");
    QTest::addColumn<Probes>("probes");

    const std::uint32_t curve = 0xFFFFFF, fill = 0x444444;
    // Sample 3 (128): curve in row 127, fill below, black above; the borders in rows 0, 255.
    QTest::newRow("gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255}
        << Probes{{0, 255, curve}, {0, 254, 0}, {3, 127, curve}, {3, 128, fill},
                  {3, 126, 0}, {5, 0, curve}};
    // Beyond the depth: above every level, so a full column of fill without a curve point.
    QTest::newRow("gray 8 above depth") << 8 << true << Values{256, 300, 65535, 255}
        << Probes{{0, 0, fill}, {2, 0, fill}, {3, 0, curve}};
    QTest::newRow("gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095}
        << Probes{{5, 0, curve}, {2, 254, curve}, {1, 255, curve}};
    QTest::newRow("gray 12 above depth") << 12 << true << Values{4096, 8191, 65535, 4095} << Probes{};
    QTest::newRow("gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535} << Probes{};
    QTest::newRow("gray 4") << 4 << true << Values{0, 1, 8, 15}
        << Probes{{3, 15, curve}, {3, 16, fill}, {1, 239, curve}};
    QTest::newRow("gray 4 above depth") << 4 << true << Values{16, 17, 40, 255} << Probes{};
    QTest::newRow("gray 1") << 1 << true << Values{0, 1, 1, 0} << Probes{{1, 127, curve}};
    QTest::newRow("gray 1 above depth") << 1 << true << Values{2, 3} << Probes{};
    // Sample 0 (100, 100, 50): the R and G curves mix, the B curve hides the fills.
    QTest::newRow("colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7}
        << Probes{{0, 155, 0xFFFF00}, {0, 195, 0x444400}, {0, 205, 0x0000FF},
                  {0, 235, 0x444444}, {2, 248, 0xFFFFFF}};
    QTest::newRow("colour 8 above depth") << 8 << false << Values{300, 10, 255, 256, 256, 0}
        << Probes{{0, 0, 0x0000FF}, {1, 0, 0x444400}, {0, 245, 0x00FF00}};
    QTest::newRow("colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024} << Probes{};
    QTest::newRow("colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1} << Probes{};
}

void TestLineProfileWorker::pictureFollowsRules()
{
    QFETCH(int, bpp);
    QFETCH(bool, gray);
    QFETCH(Values, line);
    QFETCH(Probes, probes);

    const boost::shared_ptr<FrameBuffer> buffer = middleLineBuffer(bpp, gray, line);
    Qt4LineProfileThread worker;
    runOnce(worker, frameOf(buffer), 1);
    VERIFY_NO_DIFFERENCE(compareWithRules(worker, *buffer, 1));
    for (const Probe& probe : probes)
        QVERIFY2((worker.image->pixel(probe.x, probe.row) & 0xFFFFFFu) == probe.word,
                 qPrintable(QStringLiteral("x %1 row %2").arg(probe.x).arg(probe.row)));
}

void TestLineProfileWorker::storeReusedUntilWidthChanges()
{
    Qt4LineProfileThread worker;
    auto wide = rampBuffer(64, 2, 8, true, [](int x, int y) { return std::uint64_t(x * 4 + y); });
    auto wideOther = rampBuffer(64, 2, 8, true, [](int x, int) { return std::uint64_t(255 - x); });
    auto narrow = rampBuffer(32, 2, 8, true, [](int x, int) { return std::uint64_t(x * 8); });

    runOnce(worker, frameOf(wide), 1);
    unsigned char* const store = worker.buffer;
    QImage* const image = worker.image;
    QVERIFY(store && image);

    // Same width: same store and image, new content.
    runOnce(worker, frameOf(wideOther), 0);
    QCOMPARE(worker.buffer, store);
    QCOMPARE(worker.image, image);
    VERIFY_NO_DIFFERENCE(compareWithRules(worker, *wideOther, 0));

    // Another width: a store and image of that width.
    runOnce(worker, frameOf(narrow), 1);
    QCOMPARE(worker.bufferWidth, 32);
    VERIFY_NO_DIFFERENCE(compareWithRules(worker, *narrow, 1));

    // After the store is freed the next run makes it anew.
    worker.freePicture();
    QVERIFY(!worker.buffer && !worker.image);
    runOnce(worker, frameOf(narrow), 0);
    VERIFY_NO_DIFFERENCE(compareWithRules(worker, *narrow, 0));
}

void TestLineProfileWorker::runWithoutBufferKeepsPicture()
{
    Qt4LineProfileThread worker;
    // Counted on this thread: a signal spy would count on the worker thread, unordered with
    // this thread's reads as far as the thread sanitizer can tell.
    int finished = 0;
    QObject receiver;
    QObject::connect(&worker, &QThread::finished, &receiver, [&] { ++finished; });
    runOnce(worker, frameOf(rampBuffer(16, 1, 8, true, [](int x, int) { return std::uint64_t(x * 16); })), 0);
    const QImage before = worker.image->copy();

    // No frame, then a frame without a buffer: both runs end without drawing, and each
    // still reports its end.
    runOnce(worker, Frame(), 0);
    runOnce(worker, frameOf(boost::shared_ptr<FrameBuffer>()), 0);
    QTRY_COMPARE(finished, 3);
    QCOMPARE(*worker.image, before);
    QVERIFY(!worker.drawing);
}

QTEST_GUILESS_MAIN(TestLineProfileWorker)
#include "tst_line_profile_worker.moc"
