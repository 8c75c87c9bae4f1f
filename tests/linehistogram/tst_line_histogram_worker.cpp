// The worker's picture against the drawing rules, the hand-over of its request, and what a
// run leaves behind when it has nothing to read.

#include "HistogramTestSupport.h"

#include "frame/HandOverAnnotations.h"

#include <QtTest>

#include <thread>

using namespace histogramtest;

class TestLineHistogramWorker : public QObject
{
    Q_OBJECT

private slots:
    void pictureFollowsRules_data();
    void pictureFollowsRules();
    void workedExamples_data();
    void workedExamples();
    void valuesBeyondBitDepth_data();
    void valuesBeyondBitDepth();
    void emptyLineDrawsOnlyTheBaseline();
    void lineOutsideBufferCountsAsZero();
    void runWithoutPixelsKeepsPicture_data();
    void runWithoutPixelsKeepsPicture();
    void runUsesRequestTakenAtStart();
};

namespace {

QVector<std::uint32_t> runOn(const boost::shared_ptr<DisplaySceneFrame>& frame, int y)
{
    DirectRun worker;
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.run();
    return wordsOf(worker);
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
    boost::shared_ptr<FrameBuffer> buffer;
    if (gray)
        buffer = grayBuffer(width, 4, bits, [&](int x, int line) { return skewed(x, line, bits, 0); });
    else
        buffer = colourBuffer(width, 4, bits, [&](int x, int line) {
            return Rgb{skewed(x, line, bits, 0), skewed(x, line, bits, 1), skewed(x, line, bits, 2)};
        });

    DirectRun worker;
    worker.setFrame(frameOver(buffer));
    worker.setYPosition(y);
    worker.run();
    const QVector<std::uint32_t> got = wordsOf(worker);
    const QVector<std::uint32_t> want = rulePicture(*buffer, y);
    QVERIFY2(got == want, firstDifference(got, want).constData());
    // RGB32 means 0xffRRGGBB; a transparent top byte shows once painted onto alpha surfaces.
    QVERIFY(std::all_of(worker.buffer.get(), worker.buffer.get() + 256 * 256,
                        [](std::uint32_t word) { return word >> 24 == 0xFF; }));
}

// Pixels probed in cases worked out by hand: (column, row) and the word expected there.
using Probes = QVector<QPair<QPoint, quint32>>;
using Values = QVector<quint64>; // gray: one per pixel; colour: R, G, B per pixel

void TestLineHistogramWorker::workedExamples_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<Values>("values");
    QTest::addColumn<Probes>("probes");

    QTest::newRow("1000 gray pixels of 200: one full bar, baseline elsewhere")
        << 8 << true << Values(1000, 200)
        << Probes{{{200, 0}, 0xFFFFFF}, {{200, 1}, 0x444444}, {{200, 255}, 0x444444},
                  {{199, 0}, 0},        {{199, 254}, 0},      {{199, 255}, 0xFFFFFF},
                  {{201, 255}, 0xFFFFFF}, {{0, 255}, 0xFFFFFF}, {{255, 255}, 0xFFFFFF}};
    QTest::newRow("12-bit 4095 falls into bin 255")
        << 12 << true << Values{4095}
        << Probes{{{255, 0}, 0xFFFFFF}, {{255, 255}, 0x444444}, {{254, 0}, 0}};
    QTest::newRow("4-bit 15 falls into bin 240")
        << 4 << true << Values{15}
        << Probes{{{240, 0}, 0xFFFFFF}, {{239, 0}, 0}, {{241, 0}, 0}, {{255, 0}, 0}};
    QTest::newRow("half the largest count is truncated to 189, top in row 66")
        << 8 << true << Values{10, 10, 20}
        << Probes{{{10, 0}, 0xFFFFFF}, {{20, 65}, 0}, {{20, 66}, 0xFFFFFF}, {{20, 67}, 0x444444}};
    QTest::newRow("equal red and green tops mix to yellow")
        << 8 << false << Values{5, 5, 9, 5, 5, 9}
        << Probes{{{5, 0}, 0xFFFF00}, {{5, 1}, 0x444400}, {{9, 0}, 0x0000FF}, {{9, 1}, 0x000044}};
    QTest::newRow("a top hides the bodies of the other channels")
        << 8 << false << Values{5, 5, 5, 7, 5, 5}
        << Probes{{{5, 0}, 0x00FFFF}, {{5, 65}, 0x004444}, {{5, 66}, 0xFF0000},
                  {{5, 67}, 0x444444}, {{7, 66}, 0xFF0000}, {{7, 67}, 0x440000}};
    QTest::newRow("all three tops together are white")
        << 8 << false << Values{3, 3, 3}
        << Probes{{{3, 0}, 0xFFFFFF}, {{3, 1}, 0x444444}, {{4, 255}, 0xFFFFFF}};
}

void TestLineHistogramWorker::workedExamples()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(Values, values);
    QFETCH(Probes, probes);
    const int width = gray ? values.size() : values.size() / 3;
    const boost::shared_ptr<FrameBuffer> buffer
        = gray ? grayBuffer(width, 1, bits, [&](int x, int) { return values[x]; })
               : colourBuffer(width, 1, bits, [&](int x, int) {
                     return Rgb{values[3 * x], values[3 * x + 1], values[3 * x + 2]};
                 });
    const QVector<std::uint32_t> got = runOn(frameOver(buffer), 0);
    QCOMPARE(got.size(), 256 * 256);
    for (const auto& probe : probes) {
        const QPoint at = probe.first;
        QVERIFY2(got[at.y() * 256 + at.x()] == probe.second,
                 qPrintable(QStringLiteral("(%1, %2): 0x%3, expected 0x%4")
                                .arg(at.x()).arg(at.y())
                                .arg(got[at.y() * 256 + at.x()], 0, 16)
                                .arg(probe.second, 0, 16)));
    }
}

void TestLineHistogramWorker::valuesBeyondBitDepth_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<quint64>("value");
    QTest::newRow("1 bit, value 2") << 1 << true << quint64(2);
    QTest::newRow("4 bits, value 0xffff") << 4 << true << quint64(0xffff);
    QTest::newRow("7 bits, value 200") << 7 << true << quint64(200);
    QTest::newRow("8 bits, value 300") << 8 << true << quint64(300);
    QTest::newRow("12 bits, value 0xffff") << 12 << true << quint64(0xffff);
    QTest::newRow("colour 4 bits, value 0xffff") << 4 << false << quint64(0xffff);
    QTest::newRow("colour 8 bits, value 256") << 8 << false << quint64(256);
}

// Such values are counted in the last bin: a full bar in column 255, nothing elsewhere.
void TestLineHistogramWorker::valuesBeyondBitDepth()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(quint64, value);
    const boost::shared_ptr<FrameBuffer> buffer
        = gray ? grayBuffer(3, 1, bits, [&](int, int) { return value; })
               : colourBuffer(3, 1, bits, [&](int, int) { return Rgb{value, value, value}; });
    const QVector<std::uint32_t> got = runOn(frameOver(buffer), 0);
    QVector<std::uint32_t> want(256 * 256, 0);
    for (int b = 0; b < 256; ++b)
        want[255 * 256 + b] = 0xFFFFFF;
    want[255] = 0xFFFFFF;
    for (int r = 1; r < 256; ++r)
        want[r * 256 + 255] = 0x444444;
    QVERIFY2(got == want, firstDifference(got, want).constData());
}

// No pixels: the largest count is 0 and every bar has height 0, not a 0 / 0 ratio.
void TestLineHistogramWorker::emptyLineDrawsOnlyTheBaseline()
{
    QVector<std::uint32_t> want(256 * 256, 0);
    for (int b = 0; b < 256; ++b)
        want[255 * 256 + b] = 0xFFFFFF;
    for (bool gray : {true, false}) {
        const auto buffer = boost::make_shared<FrameBuffer>(0, 4, 8, gray);
        const QVector<std::uint32_t> got = runOn(frameOver(buffer), 0);
        QVERIFY2(got == want, firstDifference(got, want).constData());
    }
}

void TestLineHistogramWorker::lineOutsideBufferCountsAsZero()
{
    const auto buffer = grayBuffer(10, 4, 8, [](int, int) { return 100; });
    const QVector<std::uint32_t> got = runOn(frameOver(buffer), 4);
    QCOMPARE(got.value(0), 0xFFFFFFu);
    QCOMPARE(got.value(255 * 256 + 0), 0x444444u);
    QCOMPARE(got.value(100), 0u);
    QCOMPARE(got.value(255 * 256 + 100), 0xFFFFFFu);
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
    const auto nothingToRead = withFrame ? frameOver({}) : boost::shared_ptr<DisplaySceneFrame>();

    DirectRun fresh;
    fresh.setFrame(nothingToRead);
    fresh.run();
    QVERIFY(!fresh.image);
    QVERIFY(!fresh.buffer);

    DirectRun worker;
    worker.setFrame(grayFrame(50, 1, 8, [](int x, int) { return x; }));
    worker.run();
    const QVector<std::uint32_t> before = wordsOf(worker);
    const std::uint32_t* const store = worker.buffer.get();
    const QImage* const image = worker.image.get();

    worker.setFrame(nothingToRead);
    worker.run();
    QCOMPARE(worker.buffer.get(), store);
    QCOMPARE(worker.image.get(), image);
    QCOMPARE(wordsOf(worker), before);
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
    gated->gate.waitUntilEntered();

    worker.setFrame(grayFrame(64, 2, 8, [](int, int) { return 200; }));
    worker.setYPosition(0);
    gated->gate.release();
    QVERIFY(worker.wait());
    vexo::templates::platform::acceptHandOver(&worker);

    const QVector<std::uint32_t> want = rulePicture(*gated, 1);
    const QVector<std::uint32_t> got = wordsOf(worker);
    QVERIFY2(got == want, firstDifference(got, want).constData());
}

QTEST_GUILESS_MAIN(TestLineHistogramWorker)
#include "tst_line_histogram_worker.moc"
