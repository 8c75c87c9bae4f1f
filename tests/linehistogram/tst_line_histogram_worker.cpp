// The worker's picture against the drawing rules, the hand-over of its request, and what a
// run leaves behind when it has nothing to read.

#include "HistogramTestSupport.h"

#include "frame/HandOverAnnotations.h"

#include <QtTest>

using namespace histogramtest;

// Pixels probed in cases worked out by hand: (column, row) and the word expected there.
using Probes = QVector<QPair<QPoint, quint32>>;
using Values = QVector<quint64>; // gray: one per pixel; colour: R, G, B per pixel

namespace {

// The worker's run, callable on the test's own thread.
struct DirectRun : Qt4LineHistogramThread
{
    using Qt4LineHistogramThread::run;
};

QVector<std::uint32_t> runOn(const Frame& frame, int y)
{
    DirectRun worker;
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.run();
    return worker.image ? wordsOf(*worker.image) : QVector<std::uint32_t>();
}

// Line y differs from its neighbours, so reading the wrong line shows.
std::uint64_t skewed(int x, int y, int bits, int channel)
{
    const std::uint64_t top = (std::uint64_t{1} << bits) - 1;
    const std::uint64_t v = (std::uint64_t(x) * x * (7 + channel) / 5 + 3 * x + 11 * y
                             + 101 * channel) % (top + 1);
    // Every fifth pixel at full scale: a tall bar in the last bin.
    return x % 5 == 0 ? top : v;
}

} // namespace

class TestLineHistogramWorker : public QObject
{
    Q_OBJECT

private slots:
    void pictureFollowsRules_data();
    void pictureFollowsRules();
    void singleBar_data();
    void singleBar();
    void workedExamples_data();
    void workedExamples();
    void runWithoutPixelsKeepsPicture_data();
    void runWithoutPixelsKeepsPicture();
    void runUsesRequestTakenAtStart();
};

void TestLineHistogramWorker::pictureFollowsRules_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("width");
    for (int bits : {1, 4, 7, 8, 9, 12, 16})
        for (bool gray : {true, false})
            for (int width : {3, 1000})
                QTest::addRow("%s %d bits, %d pixels", gray ? "gray" : "colour", bits, width)
                    << bits << gray << width;
}

void TestLineHistogramWorker::pictureFollowsRules()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(int, width);
    const int y = 2;
    const auto buffer = makeBuffer(width, 4, bits, gray, [&](int x, int line) {
        return Rgb{skewed(x, line, bits, 0), skewed(x, line, bits, 1), skewed(x, line, bits, 2)};
    });

    DirectRun worker;
    worker.setFrame(frameOver(buffer));
    worker.setYPosition(y);
    worker.run();
    COMPARE_WORDS(wordsOf(*worker.image), rulePicture(*buffer, y));
    // RGB32 means 0xffRRGGBB; a transparent top byte shows once painted onto alpha surfaces.
    QVERIFY(std::all_of(worker.buffer.get(), worker.buffer.get() + 256 * 256,
                        [](std::uint32_t word) { return word >> 24 == 0xFF; }));
}

void TestLineHistogramWorker::singleBar_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<int>("width");
    QTest::addColumn<quint64>("value"); // every pixel, every channel
    QTest::addColumn<int>("line");      // of a four-line buffer
    QTest::addColumn<int>("bin");       // of the one full bar; -1: none

    QTest::newRow("1000 pixels of 200") << 8 << true << 1000 << quint64(200) << 0 << 200;
    QTest::newRow("12 bits, 4095 in bin 255") << 12 << true << 1 << quint64(4095) << 0 << 255;
    QTest::newRow("4 bits, 15 in bin 240") << 4 << true << 1 << quint64(15) << 0 << 240;
    // Values beyond the bit depth count in the last bin.
    QTest::newRow("1 bit, value 2") << 1 << true << 3 << quint64(2) << 0 << 255;
    QTest::newRow("4 bits, value 0xffff") << 4 << true << 3 << quint64(0xffff) << 0 << 255;
    QTest::newRow("7 bits, value 200") << 7 << true << 3 << quint64(200) << 0 << 255;
    QTest::newRow("8 bits, value 300") << 8 << true << 3 << quint64(300) << 0 << 255;
    QTest::newRow("12 bits, value 0xffff") << 12 << true << 3 << quint64(0xffff) << 0 << 255;
    QTest::newRow("colour 4 bits, value 0xffff") << 4 << false << 3 << quint64(0xffff) << 0 << 255;
    QTest::newRow("colour 8 bits, value 256") << 8 << false << 3 << quint64(256) << 0 << 255;
    // No pixels: the largest count is 0 and every bar has height 0, not a 0 / 0 ratio.
    QTest::newRow("empty gray line") << 8 << true << 0 << quint64(0) << 0 << -1;
    QTest::newRow("empty colour line") << 8 << false << 0 << quint64(0) << 0 << -1;
    // Reads of a line outside the buffer fail, and their value 0 counts in bin 0.
    QTest::newRow("line below the buffer") << 8 << true << 10 << quint64(100) << 4 << 0;
}

// A full bar in one column, the baseline of height 0 everywhere else. Equal channels draw as
// gray: their tops mix to white and their bodies to gray.
void TestLineHistogramWorker::singleBar()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(int, width);
    QFETCH(quint64, value);
    QFETCH(int, line);
    QFETCH(int, bin);
    const auto buffer = makeBuffer(width, 4, bits, gray, [&](int, int) { return Rgb{value, value, value}; });

    QVector<std::uint32_t> want(256 * 256, 0);
    for (int b = 0; b < 256; ++b)
        want[255 * 256 + b] = 0xFFFFFF;
    if (bin >= 0) {
        want[bin] = 0xFFFFFF;
        for (int r = 1; r < 256; ++r)
            want[r * 256 + bin] = 0x444444;
    }
    COMPARE_WORDS(runOn(frameOver(buffer), line), want);
}

void TestLineHistogramWorker::workedExamples_data()
{
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("values");
    QTest::addColumn<Probes>("probes");

    QTest::newRow("half the largest count is truncated to 189, top in row 66")
        << true << Values{10, 10, 20}
        << Probes{{{10, 0}, 0xFFFFFF}, {{20, 65}, 0}, {{20, 66}, 0xFFFFFF}, {{20, 67}, 0x444444}};
    QTest::newRow("equal red and green tops mix to yellow")
        << false << Values{5, 5, 9, 5, 5, 9}
        << Probes{{{5, 0}, 0xFFFF00}, {{5, 1}, 0x444400}, {{9, 0}, 0x0000FF}, {{9, 1}, 0x000044}};
    QTest::newRow("a top hides the bodies of the other channels")
        << false << Values{5, 5, 5, 7, 5, 5}
        << Probes{{{5, 0}, 0x00FFFF}, {{5, 65}, 0x004444}, {{5, 66}, 0xFF0000},
                  {{5, 67}, 0x444444}, {{7, 66}, 0xFF0000}, {{7, 67}, 0x440000}};
    QTest::newRow("all three tops together are white")
        << false << Values{3, 3, 3}
        << Probes{{{3, 0}, 0xFFFFFF}, {{3, 1}, 0x444444}, {{4, 255}, 0xFFFFFF}};
}

// Pins the rules that pictureFollowsRules compares with.
void TestLineHistogramWorker::workedExamples()
{
    QFETCH(bool, gray);
    QFETCH(Values, values);
    QFETCH(Probes, probes);
    const int width = gray ? values.size() : values.size() / 3;
    const auto buffer = makeBuffer(width, 1, 8, gray, [&](int x, int) {
        return gray ? Rgb{values[x]} : Rgb{values[3 * x], values[3 * x + 1], values[3 * x + 2]};
    });
    const QVector<std::uint32_t> got = runOn(frameOver(buffer), 0);
    QCOMPARE(got.size(), 256 * 256);
    const auto pixel = [](QPoint at, quint32 word) {
        return QStringLiteral("(%1, %2) %3").arg(at.x()).arg(at.y()).arg(word, 6, 16, QLatin1Char('0'));
    };
    for (const auto& probe : probes)
        QCOMPARE(pixel(probe.first, got[probe.first.y() * 256 + probe.first.x()]), pixel(probe.first, probe.second));
}

void TestLineHistogramWorker::runWithoutPixelsKeepsPicture_data()
{
    QTest::addColumn<bool>("withFrame");
    QTest::newRow("empty frame") << false;
    QTest::newRow("frame without a buffer") << true;
}

void TestLineHistogramWorker::runWithoutPixelsKeepsPicture()
{
    QFETCH(bool, withFrame);
    const Frame nothingToRead = withFrame ? frameOver({}) : Frame();

    DirectRun fresh;
    fresh.setFrame(nothingToRead);
    fresh.run();
    QVERIFY(!fresh.image);
    QVERIFY(!fresh.buffer);

    DirectRun worker;
    worker.setFrame(frameOver(makeBuffer(50, 1, 8, true, [](int x, int) { return Rgb{std::uint64_t(x)}; })));
    worker.run();
    const QVector<std::uint32_t> before = wordsOf(*worker.image);
    const std::uint32_t* const store = worker.buffer.get();
    const QImage* const image = worker.image.get();

    worker.setFrame(nothingToRead);
    worker.run();
    QCOMPARE(worker.buffer.get(), store);
    QCOMPARE(worker.image.get(), image);
    QCOMPARE(wordsOf(*worker.image), before);
    // The image is a view of the store, not a copy.
    QCOMPARE(static_cast<const void*>(image->constBits()), static_cast<const void*>(store));
}

// The dialog changes the request while a run is reading; the run keeps to what it took.
void TestLineHistogramWorker::runUsesRequestTakenAtStart()
{
    const auto gated = boost::make_shared<GatedBuffer>(64, 2, 8);
    for (int x = 0; x < 64; ++x) {
        gated->setPixelValueGray(x, 0, 10);
        gated->setPixelValueGray(x, 1, x % 3 == 0 ? 50 : 60);
    }
    Qt4LineHistogramThread worker;
    worker.setFrame(frameOver(gated));
    worker.setYPosition(1);
    worker.start();
    gated->waitUntilEntered();

    worker.setFrame(frameOver(makeBuffer(64, 2, 8, true, [](int, int) { return Rgb{200}; })));
    worker.setYPosition(0);
    gated->release();
    QVERIFY(worker.wait());
    vexo::templates::platform::acceptHandOver(&worker);
    COMPARE_WORDS(wordsOf(*worker.image), rulePicture(*gated, 1));
}

QTEST_GUILESS_MAIN(TestLineHistogramWorker)
#include "tst_line_histogram_worker.moc"
