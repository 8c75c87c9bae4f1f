// The line profile worker: the picture it draws for a line, probed at pixels worked out by
// hand, and its picture store.

#include "ProfileTestSupport.h"

#include <QtTest>

using namespace profiletest;

struct Probe { int x, row; std::uint32_t word; };
using Probes = std::vector<Probe>;
Q_DECLARE_METATYPE(Probes)

namespace {

// One run on the test's worker, waited for; the lock afterwards orders the run's drawing
// before the checks, which the thread sanitizer cannot see through wait().
void runOnce(Qt4LineProfileThread& worker, const Frame& frame, int y)
{
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        worker.frame = frame;
        worker.yPosition = y;
    }
    worker.start();
    QVERIFY(worker.wait());
    std::lock_guard<std::mutex> settled(worker.mutex);
}

// Empty when the picture wraps the store as width x 256 RGB32 and has `probes`, else the first difference.
QString probeDifference(const Qt4LineProfileThread& worker, int width, const Probes& probes)
{
    const QImage* image = worker.image;
    if (!image || image->format() != QImage::Format_RGB32 || image->size() != QSize(width, 256)
        || image->bytesPerLine() != width * 4 || image->constBits() != worker.buffer)
        return QStringLiteral("the picture does not wrap the store");
    for (const Probe& p : probes)
        if ((image->pixel(p.x, p.row) & 0xFFFFFFu) != p.word)
            return QStringLiteral("x %1 row %2: %3").arg(p.x).arg(p.row).arg(image->pixel(p.x, p.row) & 0xFFFFFFu, 6, 16);
    return QString();
}

} // namespace

class TestLineProfileWorker : public QObject
{
    Q_OBJECT

private slots:
    void probes_data();
    void probes();
    void pictureStore();
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
    QTest::newRow("gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255, 256, 300, 65535}
        << Probes{{0, 255, c}, {0, 254, 0}, {1, 254, c}, {1, 255, f}, {3, 127, c}, {3, 128, f}, {3, 126, 0}, {5, 0, c}, {6, 0, f}, {6, 255, f}, {8, 0, f}};
    QTest::newRow("gray 9") << 9 << true << Values{511, 2, 3, 1, 512}
        << Probes{{0, 0, c}, {1, 254, c}, {1, 255, f}, {2, 254, c}, {3, 255, c}, {4, 0, f}, {4, 255, f}};
    QTest::newRow("gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095, 4096, 8191, 65535}
        << Probes{{5, 0, c}, {5, 1, f}, {4, 0, c}, {2, 254, c}, {2, 255, f}, {1, 255, c}, {3, 127, c}, {3, 128, f}, {6, 0, f}, {7, 0, f}, {8, 255, f}};
    QTest::newRow("gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535}
        << Probes{{0, 255, c}, {1, 255, c}, {1, 254, 0}, {2, 254, c}, {3, 127, c}, {3, 128, f}, {4, 0, c}};
    QTest::newRow("gray 4") << 4 << true << Values{0, 1, 8, 15, 16, 17, 40, 255}
        << Probes{{0, 255, c}, {1, 239, c}, {1, 240, f}, {1, 238, 0}, {2, 127, c}, {3, 14, 0}, {3, 15, c}, {3, 16, f}, {4, 0, f}, {5, 128, f}, {7, 0, f}, {7, 255, f}};
    QTest::newRow("gray 1") << 1 << true << Values{0, 1, 1, 0, 2} << Probes{{0, 255, c}, {0, 254, 0}, {1, 126, 0}, {1, 127, c}, {1, 128, f}, {4, 0, f}};
    // Pixel 0 (100, 100, 50): the R and G curves mix, the B curve hides the fills.
    QTest::newRow("colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7, 300, 10, 255, 256, 256, 0}
        << Probes{{0, 155, 0xFFFF00}, {0, 156, 0x444400}, {0, 195, 0x444400}, {0, 205, 0x0000FF}, {0, 235, 0x444444}, {1, 0, 0x00FF00},
                  {1, 127, 0x0000FF}, {1, 128, 0x004444}, {1, 255, 0xFF0000}, {2, 248, 0xFFFFFF}, {3, 0, 0x0000FF}, {3, 100, 0x440044},
                  {3, 245, 0x00FF00}, {3, 246, 0x444444}, {4, 0, 0x444400}, {4, 255, 0x0000FF}};
    QTest::newRow("colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024}
        << Probes{{0, 0, 0xFF0000}, {0, 1, 0x440000}, {0, 127, 0x00FF00}, {0, 128, 0x444400}, {0, 254, 0x444400}, {0, 255, 0x0000FF},
                  {1, 0, 0x000044}, {1, 253, 0x000044}, {1, 254, 0xFF0000}, {1, 255, 0x00FF00}};
    QTest::newRow("colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1}
        << Probes{{0, 3, 0xFF0000}, {0, 4, 0x440000}, {0, 127, 0x00FF00}, {0, 255, 0x0000FF}, {1, 0, 0x440000}, {1, 251, 0x00FFFF}};
}

void TestLineProfileWorker::probes()
{
    QFETCH(int, bpp); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(Probes, probes);
    const Frame frame = middleLineFrame(bpp, gray, line);
    Qt4LineProfileThread worker;
    runOnce(worker, frame, 1);
    QCOMPARE(probeDifference(worker, frame->frameBuffer()->width(), probes), QString());
}

// Kept and redrawn while the width stays, made anew when it changes; a run with nothing to
// read leaves it as it was.
void TestLineProfileWorker::pictureStore()
{
    Qt4LineProfileThread worker;
    // x 10: 41 (row 214) in line 1 of `wide`, 245 (row 10) in `other`, 80 (row 175) in `narrow`.
    const Frame wide = frameOf(64, 2, 8, true, [](int x, int y, int) { return std::uint64_t(x * 4 + y); });
    const Frame other = frameOf(64, 2, 8, true, [](int x, int, int) { return std::uint64_t(255 - x); });
    const Frame narrow = frameOf(32, 2, 8, true, [](int x, int, int) { return std::uint64_t(x * 8); });
    runOnce(worker, wide, 1);
    QCOMPARE(probeDifference(worker, 64, {{10, 214, 0xFFFFFF}, {10, 10, 0}}), QString());
    const std::pair<unsigned char*, QImage*> store(worker.buffer, worker.image);
    runOnce(worker, other, 0);
    QCOMPARE(std::make_pair(worker.buffer, worker.image), store);
    QCOMPARE(probeDifference(worker, 64, {{10, 10, 0xFFFFFF}, {10, 214, 0x444444}, {10, 9, 0}}), QString());

    const QImage before = worker.image->copy();
    runOnce(worker, Frame(), 0);
    runOnce(worker, frameWithoutBuffer(), 0);
    QCOMPARE(*worker.image, before);

    runOnce(worker, narrow, 1);
    QCOMPARE(probeDifference(worker, 32, {{10, 175, 0xFFFFFF}, {10, 10, 0}}), QString());
    worker.freePicture();
    QVERIFY(!worker.buffer && !worker.image && worker.bufferWidth == 0);
}

QTEST_GUILESS_MAIN(TestLineProfileWorker)
#include "tst_line_profile_worker.moc"
