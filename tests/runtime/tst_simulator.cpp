// The built-in camera simulator: its patterns, value range, chunked delivery and pacing.

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QtTest>

#include <thread>
#include <vector>

using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;
using vexo::core::SimulatorSource;

Q_DECLARE_METATYPE(SimulatorSource::Pattern)

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void patternsWithinBitDepth_data();
    void patternsWithinBitDepth();
    void gradientFormula_data();
    void gradientFormula();
    void chunkedDelivery();
    void cancelEndsAWait();
    void refusesBadFormats();
};

void TestSimulator::patternsWithinBitDepth_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::addColumn<SimulatorSource::Pattern>("pattern");
    for (int bits : {1, 7, 8, 9, 12, 15, 16}) {
        for (bool gray : {true, false}) {
            if (!gray && bits < 8)
                continue;
            for (auto pattern : {SimulatorSource::Pattern::MovingGradient, SimulatorSource::Pattern::TestChart})
                QTest::addRow("%d bits %s %s", bits, gray ? "gray" : "colour",
                              pattern == SimulatorSource::Pattern::TestChart ? "chart" : "gradient")
                    << bits << gray << pattern;
        }
    }
}

void TestSimulator::patternsWithinBitDepth()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    QFETCH(SimulatorSource::Pattern, pattern);
    SimulatorSource::Settings settings;
    settings.format = {300, 40, bits, gray};
    settings.framesPerSecond = 0;
    settings.pattern = pattern;
    SimulatorSource source(settings);
    FrameBuffer buffer(300, 40, bits, gray);
    source.start();
    const std::uint64_t max = (std::uint64_t(1) << bits) - 1;
    for (int frame = 0; frame < 3; ++frame) {
        QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Frame);
        QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
        std::uint64_t seenMax = 0, seenMin = max;
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 300 * buffer.channels(); ++x) {
                const std::uint64_t v = buffer.line(y)[x];
                QVERIFY2(v <= max, qPrintable(QStringLiteral("%1 at %2,%3").arg(v).arg(x).arg(y)));
                seenMax = std::max(seenMax, v);
                seenMin = std::min(seenMin, v);
            }
        }
        // Both patterns span the whole range.
        QCOMPARE(seenMax, max);
        QCOMPARE(seenMin, std::uint64_t(0));
        QCOMPARE(buffer.tag(), std::uint32_t(frame));
        QCOMPARE(buffer.transferLength(), std::uint64_t(300) * 40 * buffer.channels() * bits / 8);
    }
}

void TestSimulator::gradientFormula_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("gray");
    QTest::newRow("gray 12") << 12 << true;
    QTest::newRow("gray 3") << 3 << true;
    QTest::newRow("colour 10") << 10 << false;
}

void TestSimulator::gradientFormula()
{
    QFETCH(int, bits);
    QFETCH(bool, gray);
    SimulatorSource::Settings settings;
    settings.format = {520, 3, bits, gray};
    settings.framesPerSecond = 0;
    SimulatorSource source(settings);
    FrameBuffer buffer(520, 3, bits, gray);
    source.start();
    for (int n = 0; n < 2; ++n) {
        QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
        // g(k) = ((k mod 256) * (2^bits - 1)) / 255, moving 2 pixels per frame.
        const auto g = [bits](long k) { return std::uint64_t((k % 256) * ((1L << bits) - 1) / 255); };
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 520; ++x) {
                if (gray) {
                    std::uint64_t v = 0;
                    QVERIFY(buffer.getPixelValueGray(x, y, &v));
                    QCOMPARE(v, g(x + y + 2 * n));
                } else {
                    std::uint64_t r = 0, gr = 0, b = 0;
                    QVERIFY(buffer.getPixelValueColor(x, y, &r, &gr, &b));
                    QCOMPARE(r, g(x + 2 * n));
                    QCOMPARE(gr, g(y + 2 * n));
                    QCOMPARE(b, g(x + y + 2 * n));
                }
            }
        }
    }
}

void TestSimulator::chunkedDelivery()
{
    SimulatorSource::Settings settings;
    settings.format = {16, 10, 8, true};
    settings.framesPerSecond = 0;
    settings.linesPerChunk = 4;
    SimulatorSource source(settings);
    FrameBuffer buffer(16, 10, 8, true);
    source.start();
    std::vector<int> progress;
    std::vector<int> publishedLines;
    QCOMPARE(source.deliverFrame(&buffer, [&](int lines) {
                 progress.push_back(lines);
                 int x = 0, y = 0;
                 buffer.lastValidPixel(&x, &y);
                 publishedLines.push_back(y + 1);
             }),
             FrameSource::Delivery::Frame);
    // 10 lines in chunks of 4: 4, 8, 10, each published before it is reported.
    QCOMPARE(progress, (std::vector<int>{4, 8, 10}));
    QCOMPARE(publishedLines, progress);
    // Without a target the frame is consumed: the next one is frame 2.
    QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Frame);
    QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
    QCOMPARE(buffer.tag(), std::uint32_t(2));
    std::uint64_t v = 0;
    QVERIFY(buffer.getPixelValueGray(0, 0, &v));
    QCOMPARE(v, std::uint64_t(4)); // g(0 + 0 + 2 * 2) at 8 bits
}

void TestSimulator::cancelEndsAWait()
{
    SimulatorSource::Settings settings;
    settings.format = {8, 8, 8, true};
    settings.framesPerSecond = 0.001; // one frame in 1000 s
    SimulatorSource source(settings);
    for (bool useStop : {false, true}) {
        source.start();
        QVERIFY(!source.status().extrg);
        QCOMPARE(source.status().clock, true);
        FrameSource::Delivery result = FrameSource::Delivery::Frame;
        std::thread waiter([&] { result = source.waitForFrame(); });
        if (useStop)
            source.stop();
        else
            source.cancel();
        waiter.join();
        QCOMPARE(result, FrameSource::Delivery::Cancelled);
        // A cancelled source stays cancelled until it is started again.
        QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Cancelled);
    }
    QCOMPARE(source.status().clock, false);
}

void TestSimulator::refusesBadFormats()
{
    SimulatorSource::Settings settings;
    settings.format = {8, 8, 8, true};
    SimulatorSource source(settings);
    QVERIFY(!source.setFormat({8, 8, 0, true}));
    QVERIFY(!source.setFormat({8, 8, 17, true}));
    QVERIFY(!source.setFormat({-1, 8, 8, true}));
    QCOMPARE(source.format(), (FrameFormat{8, 8, 8, true}));
    QVERIFY(source.setFormat({0, 0, 16, false}));
    QCOMPARE(source.format(), (FrameFormat{0, 0, 16, false}));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
