// The worker's picture, probed at pixels worked out by hand; the hand-over of its request,
// and what a run leaves behind when it has nothing to read.

#include "HistogramTestSupport.h"

#include "frame/HandOverAnnotations.h"

#include <QtTest>

#include <algorithm>

using namespace histogramtest;

struct Probe { int bin, row; quint32 word; };
using Probes = QVector<Probe>;
using Values = QVector<quint64>; // gray: one per pixel; colour: R, G, B per pixel
Q_DECLARE_METATYPE(Probes)

class TestLineHistogramWorker : public QObject
{
    Q_OBJECT

private slots:
    void probes_data();
    void probes();
    void runWithoutPixelsKeepsPicture();
    void runUsesRequestTakenAtStart();
};

// Row r shows level 255 - r. A bin of the largest count is 255 high, of 1/2 of it 189
// (189.5 truncated), of 1/3 154; an empty bin is 0 high, its top in the bottom row.
void TestLineHistogramWorker::probes_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("values"); // line 1 of three; line 0 is all 1, line 2 all 0xffff
    QTest::addColumn<int>("y");
    QTest::addColumn<Probes>("probes");

    const quint32 w = 0xFFFFFF, f = 0x444444;
    QTest::newRow("8 bits, half the largest count") << 8 << true << Values{10, 10, 20} << 1
        << Probes{{10, 0, w}, {10, 1, f}, {20, 65, 0}, {20, 66, w}, {20, 67, f}, {11, 255, w}, {11, 254, 0}};
    QTest::newRow("8 bits, above the depth in the last bin") << 8 << true << Values{256, 300, 255, 0} << 1
        << Probes{{255, 0, w}, {0, 100, 0}, {0, 101, w}, {0, 102, f}};
    QTest::newRow("1 bit") << 1 << true << Values{0, 1, 1, 2} << 1 << Probes{{128, 0, w}, {128, 1, f}, {0, 66, w}, {255, 65, 0}, {255, 66, w}};
    QTest::newRow("4 bits") << 4 << true << Values{15, 8, 16, 0xffff} << 1 << Probes{{255, 0, w}, {240, 65, 0}, {240, 66, w}, {128, 66, w}, {128, 67, f}};
    QTest::newRow("9 bits") << 9 << true << Values{511, 2, 3, 1} << 1 << Probes{{1, 0, w}, {255, 66, w}, {0, 66, w}, {2, 254, 0}, {2, 255, w}};
    QTest::newRow("12 bits") << 12 << true << Values{4095, 4096, 16, 15, 0xffff} << 1 << Probes{{255, 0, w}, {1, 100, 0}, {1, 101, w}, {0, 101, w}, {0, 102, f}};
    QTest::newRow("16 bits") << 16 << true << Values{65535, 256, 255, 32768} << 1 << Probes{{255, 0, w}, {1, 0, w}, {0, 0, w}, {128, 0, w}, {2, 0, 0}, {2, 255, w}};
    // Heights are relative to the largest count of all channels; tops of several channels
    // mix, and a top hides the bodies.
    QTest::newRow("colour, a top hides the bodies") << 8 << false << Values{5, 5, 5, 7, 5, 5} << 1
        << Probes{{5, 0, 0x00FFFF}, {5, 65, 0x004444}, {5, 66, 0xFF0000}, {5, 67, f}, {7, 66, 0xFF0000}, {7, 67, 0x440000}};
    QTest::newRow("colour 12 bits, above the depth") << 12 << false << Values{4096, 16, 0, 4095, 32, 0xffff} << 1
        << Probes{{255, 0, 0xFF0000}, {255, 66, 0x0000FF}, {255, 67, 0x440044}, {1, 66, 0x00FF00}, {2, 66, 0x00FF00}, {0, 66, 0x0000FF},
                  {0, 255, 0xFFFF00}, {3, 255, w}};
    // Blue alone has the largest count here.
    QTest::newRow("colour 4 bits") << 4 << false << Values{15, 0xffff, 8, 0, 1, 8} << 1
        << Probes{{128, 0, 0x0000FF}, {128, 1, 0x000044}, {240, 65, 0}, {240, 66, 0xFF0000}, {240, 67, 0x440000}, {255, 66, 0x00FF00}, {16, 66, 0x00FF00}, {0, 66, 0xFF0000}};
    // No pixels: every bar is 0 high, not a 0 / 0 ratio. Reads of a line outside the buffer
    // fail, and their value 0 counts in bin 0.
    QTest::newRow("empty line") << 8 << true << Values{} << 1 << Probes{{0, 255, w}, {0, 254, 0}, {255, 255, w}};
    QTest::newRow("line below the buffer") << 8 << true << Values{100, 100, 100} << 3 << Probes{{0, 0, w}, {0, 1, f}, {100, 255, w}, {100, 254, 0}};
}

void TestLineHistogramWorker::probes()
{
    QFETCH(int, bits); QFETCH(bool, gray); QFETCH(Values, values); QFETCH(int, y); QFETCH(Probes, probes);
    DirectRun worker;
    worker.setFrame(frameOf(gray ? values.size() : values.size() / 3, 3, bits, gray, [&](int x, int line, int c) -> std::uint64_t {
        return line != 1 ? (line == 0 ? 1 : c == 1 ? 0 : 0xffff) : values[gray ? x : 3 * x + c];
    }));
    worker.setYPosition(y);
    worker.run();
    QVERIFY(worker.image && worker.image->constBits() == reinterpret_cast<const uchar*>(worker.buffer.get()));
    // RGB32 means 0xffRRGGBB; a transparent top byte shows once painted onto alpha surfaces.
    QVERIFY(std::all_of(worker.buffer.get(), worker.buffer.get() + 256 * 256, [](std::uint32_t word) { return word >> 24 == 0xFF; }));
    for (const Probe& p : probes)
        QCOMPARE(QStringLiteral("(%1, %2) %3").arg(p.bin).arg(p.row).arg(worker.buffer[p.row * 256 + p.bin] & 0xFFFFFFu, 6, 16, QLatin1Char('0')),
                 QStringLiteral("(%1, %2) %3").arg(p.bin).arg(p.row).arg(p.word, 6, 16, QLatin1Char('0')));
}

// Without a frame or without a buffer a run draws nothing: the picture is kept, store and all.
void TestLineHistogramWorker::runWithoutPixelsKeepsPicture()
{
    for (const Frame& nothingToRead : {Frame(), frameOver({})}) {
        DirectRun worker;
        worker.setFrame(frameOf(50, 1, 8, true, [](int x, int, int) { return std::uint64_t(x); }));
        worker.run();
        const QVector<std::uint32_t> before = wordsOf(*worker.image);
        const std::pair<std::uint32_t*, QImage*> store(worker.buffer.get(), worker.image.get());
        worker.setFrame(nothingToRead);
        worker.run();
        QCOMPARE(std::make_pair(worker.buffer.get(), worker.image.get()), store);
        QCOMPARE(wordsOf(*worker.image), before);
    }
}

// The dialog changes the request while a run is reading; the run keeps to what it took.
void TestLineHistogramWorker::runUsesRequestTakenAtStart()
{
    const auto gated = boost::make_shared<GatedBuffer>(64, 2);
    for (int x = 0; x < 64; ++x) {
        gated->setPixelValueGray(x, 0, 10);
        gated->setPixelValueGray(x, 1, x % 3 == 0 ? 50 : 60);
    }
    Qt4LineHistogramThread worker;
    worker.setFrame(frameOver(gated));
    worker.setYPosition(1);
    worker.start();
    while (!gated->entered)
        std::this_thread::yield();
    const Frame later = frameOf(64, 2, 8, true, [](int, int, int) { return std::uint64_t(200); });
    worker.setFrame(later);
    worker.setYPosition(0);
    gated->open = true;
    QVERIFY(worker.wait());
    vexo::templates::platform::acceptHandOver(&worker);
    const QVector<std::uint32_t> taken = runOn(frameOver(gated), 1);
    QCOMPARE(wordsOf(*worker.image), taken);
    QVERIFY(taken != runOn(later, 0) && taken != runOn(frameOver(gated), 0));
}

QTEST_GUILESS_MAIN(TestLineHistogramWorker)
#include "tst_line_histogram_worker.moc"
