// The line profile worker: the picture it draws for a line, probed at pixels worked out by
// hand, and its picture store.

#include "ProfileTestSupport.h"

#include <QtTest>

using namespace profiletest;

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

// Empty when the picture wraps the store as W x 256 RGB32 and has `probes`, else the first
// difference.
QString probeDifference(const Qt4LineProfileThread& worker, int width, const Probes& probes)
{
    if (!worker.image || worker.image->format() != QImage::Format_RGB32 || worker.image->height() != 256
        || worker.image->width() != width || worker.image->bytesPerLine() != width * 4
        || worker.image->constBits() != worker.buffer)
        return QStringLiteral("the picture does not wrap the store");
    for (const Probe& p : probes)
        if ((worker.image->pixel(p.x, p.row) & 0xFFFFFFu) != p.word)
            return QStringLiteral("x %1 row %2: %3").arg(p.x).arg(p.row).arg(worker.image->pixel(p.x, p.row) & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
    return QString();
}

} // namespace

class TestLineProfileWorker : public QObject
{
    Q_OBJECT

private slots:
    void probes_data();
    void probes();
    void storeReusedUntilWidthChanges();
    void runWithoutBufferKeepsPicture();
};

// Row r stands for level 255 - r: a sample's curve point in the row of its level on the
// 8-bit scale, fill below, black above. Beyond the depth a sample is above every level: a
// full column of fill without a curve point.
void TestLineProfileWorker::probes_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("line"); // line 1 of middleLineFrame, the one read
    QTest::addColumn<Probes>("probes");

    const std::uint32_t c = 0xFFFFFF, f = 0x444444;
    QTest::newRow("gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255}
        << Probes{{0, 255, c}, {0, 254, 0}, {1, 254, c}, {1, 255, f}, {3, 127, c}, {3, 128, f}, {3, 126, 0}, {5, 0, c}};
    QTest::newRow("gray 8 above depth") << 8 << true << Values{256, 300, 65535, 255} << Probes{{0, 0, f}, {0, 255, f}, {2, 0, f}, {3, 0, c}};
    QTest::newRow("gray 9") << 9 << true << Values{511, 2, 3, 1, 512}
        << Probes{{0, 0, c}, {1, 254, c}, {1, 255, f}, {2, 254, c}, {3, 255, c}, {4, 0, f}, {4, 255, f}};
    QTest::newRow("gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095}
        << Probes{{5, 0, c}, {4, 0, c}, {2, 254, c}, {2, 255, f}, {1, 255, c}, {3, 127, c}, {3, 128, f}};
    QTest::newRow("gray 12 above depth") << 12 << true << Values{4096, 8191, 65535, 4095}
        << Probes{{0, 0, f}, {1, 0, f}, {2, 255, f}, {3, 0, c}, {3, 1, f}};
    QTest::newRow("gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535}
        << Probes{{0, 255, c}, {1, 255, c}, {1, 254, 0}, {2, 254, c}, {3, 127, c}, {3, 128, f}, {4, 0, c}};
    QTest::newRow("gray 4") << 4 << true << Values{0, 1, 8, 15}
        << Probes{{0, 255, c}, {1, 239, c}, {1, 240, f}, {1, 238, 0}, {2, 127, c}, {3, 15, c}, {3, 16, f}};
    QTest::newRow("gray 4 above depth") << 4 << true << Values{16, 17, 40, 255, 15}
        << Probes{{0, 0, f}, {1, 128, f}, {3, 0, f}, {3, 255, f}, {4, 14, 0}, {4, 15, c}, {4, 16, f}};
    QTest::newRow("gray 1") << 1 << true << Values{0, 1, 1, 0} << Probes{{0, 255, c}, {0, 254, 0}, {1, 126, 0}, {1, 127, c}, {1, 128, f}};
    QTest::newRow("gray 1 above depth") << 1 << true << Values{2, 3, 1} << Probes{{0, 0, f}, {1, 255, f}, {2, 127, c}};
    // Sample 0 (100, 100, 50): the R and G curves mix, the B curve hides the fills.
    QTest::newRow("colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7}
        << Probes{{0, 155, 0xFFFF00}, {0, 156, 0x444400}, {0, 195, 0x444400}, {0, 205, 0x0000FF}, {0, 235, 0x444444}, {1, 0, 0x00FF00},
                  {1, 127, 0x0000FF}, {1, 128, 0x004444}, {1, 255, 0xFF0000}, {2, 248, 0xFFFFFF}};
    QTest::newRow("colour 8 above depth") << 8 << false << Values{300, 10, 255, 256, 256, 0}
        << Probes{{0, 0, 0x0000FF}, {0, 100, 0x440044}, {0, 245, 0x00FF00}, {0, 246, 0x444444}, {1, 0, 0x444400}, {1, 255, 0x0000FF}};
    QTest::newRow("colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024}
        << Probes{{0, 0, 0xFF0000}, {0, 1, 0x440000}, {0, 127, 0x00FF00}, {0, 128, 0x444400}, {0, 254, 0x444400}, {0, 255, 0x0000FF},
                  {1, 0, 0x000044}, {1, 253, 0x000044}, {1, 254, 0xFF0000}, {1, 255, 0x00FF00}};
    QTest::newRow("colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1}
        << Probes{{0, 2, 0}, {0, 3, 0xFF0000}, {0, 4, 0x440000}, {0, 127, 0x00FF00}, {0, 255, 0x0000FF}, {1, 0, 0x440000},
                  {1, 251, 0x00FFFF}, {1, 252, 0x444444}};
}

void TestLineProfileWorker::probes()
{
    QFETCH(int, bpp); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(Probes, probes);
    const Frame frame = middleLineFrame(bpp, gray, line);
    Qt4LineProfileThread worker;
    runOnce(worker, frame, 1);
    QCOMPARE(probeDifference(worker, frame->frameBuffer()->width(), probes), QString());
}

void TestLineProfileWorker::storeReusedUntilWidthChanges()
{
    Qt4LineProfileThread worker;
    const Frame wide = frameOf(64, 2, 8, true, [](int x, int y, int) { return std::uint64_t(x * 4 + y); });
    const Frame wideOther = frameOf(64, 2, 8, true, [](int x, int, int) { return std::uint64_t(255 - x); });
    const Frame narrow = frameOf(32, 2, 8, true, [](int x, int, int) { return std::uint64_t(x * 8); });

    // x 10: 41 (row 214) in wide's line 1, 245 (row 10) in wideOther, 80 (row 175) in narrow.
    runOnce(worker, wide, 1);
    QCOMPARE(probeDifference(worker, 64, {{10, 214, 0xFFFFFF}, {10, 10, 0}}), QString());
    unsigned char* const store = worker.buffer;
    QImage* const image = worker.image;
    // Same width: same store and image, new content.
    runOnce(worker, wideOther, 0);
    QCOMPARE(worker.buffer, store);
    QCOMPARE(worker.image, image);
    QCOMPARE(probeDifference(worker, 64, {{10, 10, 0xFFFFFF}, {10, 214, 0x444444}, {10, 9, 0}}), QString());
    // Another width: a store and image of that width.
    runOnce(worker, narrow, 1);
    QCOMPARE(worker.bufferWidth, 32);
    QCOMPARE(probeDifference(worker, 32, {{10, 175, 0xFFFFFF}, {10, 10, 0}}), QString());
    // After the store is freed the next run makes it anew.
    worker.freePicture();
    QVERIFY(!worker.buffer && !worker.image && worker.bufferWidth == 0);
    runOnce(worker, narrow, 0);
    QCOMPARE(probeDifference(worker, 32, {{10, 175, 0xFFFFFF}, {31, 7, 0xFFFFFF}}), QString());
}

void TestLineProfileWorker::runWithoutBufferKeepsPicture()
{
    Qt4LineProfileThread worker;
    // Counted on this thread: a signal spy would count on the worker thread, unordered with
    // this thread's reads as far as the thread sanitizer can tell.
    int finished = 0;
    QObject receiver;
    QObject::connect(&worker, &QThread::finished, &receiver, [&] { ++finished; });
    runOnce(worker, frameOf(16, 1, 8, true, [](int x, int, int) { return std::uint64_t(x * 16); }), 0);
    const QImage before = worker.image->copy();

    // No frame, then a frame without a buffer: both runs end without drawing, and each
    // still reports its end.
    runOnce(worker, Frame(), 0);
    runOnce(worker, frameWithoutBuffer(), 0);
    QTRY_COMPARE(finished, 3);
    QCOMPARE(*worker.image, before);
    QVERIFY(!worker.drawing);
}

QTEST_GUILESS_MAIN(TestLineProfileWorker)
#include "tst_line_profile_worker.moc"
