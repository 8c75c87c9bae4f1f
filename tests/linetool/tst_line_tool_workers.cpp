// Both line tools' workers: the picture each draws for a line, probed at pixels worked out by
// hand; and through one test body for both, the picture store and the request a run takes.

#include "LineToolTestSupport.h"

#include <QtTest>

#include <algorithm>
#include <mutex>
#include <set>

using namespace linetooltest;

struct Probe { int x, row; std::uint32_t word; };
using Probes = std::vector<Probe>;
Q_DECLARE_METATYPE(Probes)

namespace {

// One run on the worker's own thread, waited for.
void runOnce(LineToolThread& worker, const Frame& frame, int y)
{
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.start();
    worker.waitForRun();
}

bool isPicture(const QImage& image, int width)
{
    return image.format() == QImage::Format_RGB32 && image.size() == QSize(width, 256) && image.bytesPerLine() == width * 4;
}

} // namespace

class TestLineToolWorkers : public QObject
{
    Q_OBJECT

private slots:
    void probes_data();
    void probes();
    void pictureStore_data() { bothTools(); }
    void pictureStore();
};

void TestLineToolWorkers::probes_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("line"); // line 1 of middleLineFrame
    QTest::addColumn<int>("y");       // the line read
    QTest::addColumn<Probes>("probes");

    // Profile, x a sample: row r stands for level 255 - r, a sample's curve point in the row
    // of its level on the 8-bit scale, fill below, black above. Beyond the depth a sample is
    // above every level: a full column of fill without a curve point.
    const std::uint32_t c = 0xFFFFFF, f = 0x444444;
    row("profile", "gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255, 256, 300, 65535} << 1
        << Probes{{0, 255, c}, {0, 254, 0}, {1, 254, c}, {1, 255, f}, {3, 127, c}, {3, 128, f}, {3, 126, 0}, {5, 0, c}, {6, 0, f}, {6, 255, f}, {8, 0, f}};
    row("profile", "gray 9") << 9 << true << Values{511, 2, 3, 1, 512} << 1
        << Probes{{0, 0, c}, {1, 254, c}, {1, 255, f}, {2, 254, c}, {3, 255, c}, {4, 0, f}, {4, 255, f}};
    row("profile", "gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095, 4096, 8191, 65535} << 1
        << Probes{{5, 0, c}, {5, 1, f}, {4, 0, c}, {2, 254, c}, {2, 255, f}, {1, 255, c}, {3, 127, c}, {3, 128, f}, {6, 0, f}, {7, 0, f}, {8, 255, f}};
    row("profile", "gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535} << 1
        << Probes{{0, 255, c}, {1, 255, c}, {1, 254, 0}, {2, 254, c}, {3, 127, c}, {3, 128, f}, {4, 0, c}};
    row("profile", "gray 4") << 4 << true << Values{0, 1, 8, 15, 16, 17, 40, 255} << 1
        << Probes{{0, 255, c}, {1, 239, c}, {1, 240, f}, {1, 238, 0}, {2, 127, c}, {3, 14, 0}, {3, 15, c}, {3, 16, f}, {4, 0, f}, {5, 128, f}, {7, 0, f}, {7, 255, f}};
    row("profile", "gray 1") << 1 << true << Values{0, 1, 1, 0, 2} << 1 << Probes{{0, 255, c}, {0, 254, 0}, {1, 126, 0}, {1, 127, c}, {1, 128, f}, {4, 0, f}};
    // Pixel 0 (100, 100, 50): the R and G curves mix, the B curve hides the fills.
    row("profile", "colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7, 300, 10, 255, 256, 256, 0} << 1
        << Probes{{0, 155, 0xFFFF00}, {0, 156, 0x444400}, {0, 195, 0x444400}, {0, 205, 0x0000FF}, {0, 235, 0x444444}, {1, 0, 0x00FF00},
                  {1, 127, 0x0000FF}, {1, 128, 0x004444}, {1, 255, 0xFF0000}, {2, 248, 0xFFFFFF}, {3, 0, 0x0000FF}, {3, 100, 0x440044},
                  {3, 245, 0x00FF00}, {3, 246, 0x444444}, {4, 0, 0x444400}, {4, 255, 0x0000FF}};
    row("profile", "colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024} << 1
        << Probes{{0, 0, 0xFF0000}, {0, 1, 0x440000}, {0, 127, 0x00FF00}, {0, 128, 0x444400}, {0, 254, 0x444400}, {0, 255, 0x0000FF},
                  {1, 0, 0x000044}, {1, 253, 0x000044}, {1, 254, 0xFF0000}, {1, 255, 0x00FF00}};
    row("profile", "colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1} << 1
        << Probes{{0, 3, 0xFF0000}, {0, 4, 0x440000}, {0, 127, 0x00FF00}, {0, 255, 0x0000FF}, {1, 0, 0x440000}, {1, 251, 0x00FFFF}};

    // Histogram, x a bin: row r shows level 255 - r. A bin of the largest count is 255 high,
    // of 1/2 of it 189 (189.5 truncated), of 1/3 154; an empty bin is 0 high, its top in the
    // bottom row.
    row("histogram", "8 bits, half the largest count") << 8 << true << Values{10, 10, 20} << 1
        << Probes{{10, 0, c}, {10, 1, f}, {20, 65, 0}, {20, 66, c}, {20, 67, f}, {11, 255, c}, {11, 254, 0}};
    row("histogram", "8 bits, above the depth in the last bin") << 8 << true << Values{256, 300, 255, 0} << 1
        << Probes{{255, 0, c}, {0, 100, 0}, {0, 101, c}, {0, 102, f}};
    row("histogram", "1 bit") << 1 << true << Values{0, 1, 1, 2} << 1 << Probes{{128, 0, c}, {128, 1, f}, {0, 66, c}, {255, 65, 0}, {255, 66, c}};
    row("histogram", "4 bits") << 4 << true << Values{15, 8, 16, 0xffff} << 1 << Probes{{255, 0, c}, {240, 65, 0}, {240, 66, c}, {128, 66, c}, {128, 67, f}};
    row("histogram", "9 bits") << 9 << true << Values{511, 2, 3, 1} << 1 << Probes{{1, 0, c}, {255, 66, c}, {0, 66, c}, {2, 254, 0}, {2, 255, c}};
    row("histogram", "12 bits") << 12 << true << Values{4095, 4096, 16, 15, 0xffff} << 1 << Probes{{255, 0, c}, {1, 100, 0}, {1, 101, c}, {0, 101, c}, {0, 102, f}};
    row("histogram", "16 bits") << 16 << true << Values{65535, 256, 255, 32768} << 1 << Probes{{255, 0, c}, {1, 0, c}, {0, 0, c}, {128, 0, c}, {2, 0, 0}, {2, 255, c}};
    // Heights are relative to the largest count of all channels; tops of several channels
    // mix, and a top hides the bodies.
    row("histogram", "colour, a top hides the bodies") << 8 << false << Values{5, 5, 5, 7, 5, 5} << 1
        << Probes{{5, 0, 0x00FFFF}, {5, 65, 0x004444}, {5, 66, 0xFF0000}, {5, 67, f}, {7, 66, 0xFF0000}, {7, 67, 0x440000}};
    row("histogram", "colour 12 bits, above the depth") << 12 << false << Values{4096, 16, 0, 4095, 32, 0xffff} << 1
        << Probes{{255, 0, 0xFF0000}, {255, 66, 0x0000FF}, {255, 67, 0x440044}, {1, 66, 0x00FF00}, {2, 66, 0x00FF00}, {0, 66, 0x0000FF},
                  {0, 255, 0xFFFF00}, {3, 255, c}};
    // Blue alone has the largest count here.
    row("histogram", "colour 4 bits") << 4 << false << Values{15, 0xffff, 8, 0, 1, 8} << 1
        << Probes{{128, 0, 0x0000FF}, {128, 1, 0x000044}, {240, 65, 0}, {240, 66, 0xFF0000}, {240, 67, 0x440000}, {255, 66, 0x00FF00}, {16, 66, 0x00FF00}, {0, 66, 0xFF0000}};
    // No pixels: every bar is 0 high, not a 0 / 0 ratio. Reads of a line outside the buffer
    // fail, and their value 0 counts in bin 0.
    row("histogram", "empty line") << 8 << true << Values{} << 1 << Probes{{0, 255, c}, {0, 254, 0}, {255, 255, c}};
    row("histogram", "line below the buffer") << 8 << true << Values{100, 100, 100} << 3 << Probes{{0, 0, c}, {0, 1, f}, {100, 255, c}, {100, 254, 0}};
}

void TestLineToolWorkers::probes()
{
    forTool([](auto tool) {
        using T = decltype(tool);
        QFETCH(int, bits); QFETCH(bool, gray); QFETCH(Values, line); QFETCH(int, y); QFETCH(Probes, probes);
        const Frame frame = middleLineFrame(bits, gray, line);
        typename T::Worker worker;
        runOnce(worker, frame, y);
        QImage picture;
        QVERIFY(worker.takePicture(picture));
        QVERIFY(isPicture(picture, T::pictureWidth(frame->frameBuffer()->width())));
        const auto* words = reinterpret_cast<const std::uint32_t*>(picture.constBits());
        // RGB32 words are 0xffRRGGBB: a zero top byte paints black onto surfaces with alpha.
        QVERIFY(std::all_of(words, words + picture.width() * 256, [](std::uint32_t word) { return word >> 24 == 0xFF; }));
        auto probed = [](const Probe& p, std::uint32_t word) { return QStringLiteral("(%1, %2) %3").arg(p.x).arg(p.row).arg(word & 0xFFFFFFu, 6, 16, QLatin1Char('0')); };
        QStringList got, want;
        for (const Probe& p : probes) {
            got << probed(p, picture.pixel(p.x, p.row));
            want << probed(p, p.word);
        }
        QCOMPARE(got, want);
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
        QImage first, none;
        QVERIFY(worker.takePicture(first));
        QVERIFY(!worker.takePicture(none));
        QVERIFY(isPicture(first, T::pictureWidth(64)));
        QCOMPARE(first, runOn<T>(wide, 1));
        const uchar* const store = first.constBits();
        worker.recyclePicture(std::move(first));

        const auto gated = boost::make_shared<GatedBuffer>(64, 2);
        fill(*gated, [](int x, int y, int) { return y == 0 ? 10 : x % 3 == 0 ? 50 : 60; });
        worker.setFrame(frameOver(gated));
        worker.setYPosition(1);
        worker.start();
        while (!gated->entered)
            std::this_thread::yield();
        worker.setFrame(wide);
        worker.setYPosition(0);
        gated->open = true;
        worker.waitForRun();
        const QImage want = runOn<T>(frameOver(gated), 1);
        QVERIFY(want != runOn<T>(wide, 0) && want != runOn<T>(frameOver(gated), 0));
        QImage taken;
        QVERIFY(worker.takePicture(taken));
        QCOMPARE(taken.constBits(), store);
        QCOMPARE(taken, want);

        // Shown elsewhere still: let go, not drawn into.
        const QImage shown = taken;
        worker.recyclePicture(std::move(taken));
        runOnce(worker, wide, 0);
        for (const Frame& nothingToRead : {Frame(), frameWithoutBuffer()})
            runOnce(worker, nothingToRead, 1);
        QImage next;
        QVERIFY(worker.takePicture(next));
        QVERIFY(next.constBits() != store);
        QCOMPARE(next, runOn<T>(wide, 0));
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
        worker.recyclePicture(std::move(next));
        worker.setFitSize(QSize(7, 64));
        runOnce(worker, narrow, 1);
        QImage fitted;
        QVERIFY(worker.takePicture(taken, &fitted));
        QCOMPARE(fitted, taken.scaled(7, 64, Qt::IgnoreAspectRatio, Qt::FastTransformation));
        QVERIFY(isPicture(taken, T::pictureWidth(32)));
        QCOMPARE(taken, runOn<T>(narrow, 1));
        worker.recyclePicture(std::move(taken));
        worker.freePicture();
        QVERIFY(worker.picture.isNull() && worker.spare.isNull() && !worker.takePicture(none));
    });
}

QTEST_GUILESS_MAIN(TestLineToolWorkers)
#include "tst_line_tool_workers.moc"
