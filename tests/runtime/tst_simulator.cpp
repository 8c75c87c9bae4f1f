// The built-in camera simulator: its patterns, value range, chunked delivery and pacing.

#include "RuntimeTestSupport.h"

#include <QtTest>

using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;
using vexo::core::SimulatorSource;

Q_DECLARE_METATYPE(SimulatorSource::Pattern)
Q_DECLARE_METATYPE(SimulatorSource::Settings)

class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void patternsWithinBitDepth_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<SimulatorSource::Pattern>("pattern");
        // "x,y,frame,channel=value", worked out by hand on the 300 x 40 frame.
        QTest::addColumn<QString>("probes");
        const auto gradient = SimulatorSource::Pattern::MovingGradient;
        const auto chart = SimulatorSource::Pattern::TestChart;
        QTest::newRow("1 bit gray gradient") << 1 << true << gradient << "255,0,0,0=1 254,0,0,0=0 253,0,1,0=1 10,3,2,0=0";
        QTest::newRow("1 bit gray chart") << 1 << true << chart << "0,5,0,0=1 150,5,0,0=0 298,19,0,0=1 150,30,1,0=0";
        QTest::newRow("8 bits gray gradient") << 8 << true << gradient << "255,0,0,0=255 10,3,2,0=17 299,39,1,0=84";
        QTest::newRow("8 bits colour gradient") << 8 << false << gradient << "10,3,2,0=14 10,3,2,1=7 10,3,2,2=17";
        QTest::newRow("8 bits colour chart") << 8 << false << chart
                                             << "150,5,0,0=255 150,5,0,1=0 38,5,0,2=255 75,5,1,1=255 75,5,1,0=0 150,30,2,1=127";
        QTest::newRow("9 bits gray chart") << 9 << true << chart
                                           << "0,5,0,0=511 150,5,0,0=292 37,5,0,0=0 38,5,0,0=73 5,19,0,0=0 5,20,0,0=8"
                                              " 150,30,0,0=256 299,30,0,0=511";
        QTest::newRow("9 bits colour gradient") << 9 << false << gradient
                                                << "10,3,2,0=28 10,3,2,1=14 10,3,2,2=34 299,39,1,0=90 299,39,1,1=82"
                                                   " 299,39,1,2=168";
        QTest::newRow("16 bits gray gradient") << 16 << true << gradient << "255,0,0,0=65535 10,3,2,0=4369 299,39,1,0=21588";
        QTest::newRow("16 bits colour chart") << 16 << false << chart
                                              << "299,30,0,2=65535 150,30,0,0=32877 298,19,0,1=65535 262,5,0,1=65535 262,5,0,2=0";
    }

    void patternsWithinBitDepth()
    {
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(SimulatorSource::Pattern, pattern);
        QFETCH(QString, probes);
        SimulatorSource source({{300, 40, bits, gray}, 0, pattern});
        FrameBuffer buffer(300, 40, bits, gray);
        source.start();
        for (int frame = 0; frame < 3; ++frame) {
            QCOMPARE(source.waitForFrame(), FrameSource::Delivery::Frame);
            QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
            // Both patterns span the whole range and no more.
            const auto all = samplesOf(buffer);
            const auto range = std::minmax_element(all.begin(), all.end());
            QCOMPARE((QList<qint64>{*range.first, *range.second, buffer.tag(), qint64(buffer.transferLength())}),
                     (QList<qint64>{0, (1 << bits) - 1, frame, 300 * 40 * buffer.channels() * bits / 8}));
            for (const QString& probe : probes.split(' ', Qt::SkipEmptyParts)) {
                const QStringList p = probe.split(QRegularExpression("[,=]"));
                if (p[2].toInt() == frame)
                    QVERIFY2(buffer.line(p[1].toInt())[p[0].toInt() * buffer.channels() + p[3].toInt()] == p[4].toUInt(),
                             qPrintable(probe));
            }
        }
    }

    void fillMatchesPatternValue_data()
    {
        QTest::addColumn<SimulatorSource::Settings>("settings");
        QTest::addColumn<int>("targetWidth");
        QTest::addColumn<bool>("targetGray");
        // Widths either side of the saw-tooth's period and several periods long; heights
        // 1 and 2 are all chart border, 3 has no top half; chunks start inside a half; below
        // 8 pixels the last bar is not white, so only the border makes the last column so.
        // The gradient repeats every 256 lines, within a chunk and across chunks.
        const struct
        {
            int width, height, linesPerChunk;
        } sizes[] = {{1, 1, 0}, {2, 2, 0}, {255, 3, 0}, {257, 2, 1}, {513, 9, 2}, {1030, 5, 0}, {5, 6, 0},
                     {257, 300, 0}, {3, 600, 260}, {0, 3, 0}};
        for (const auto pattern : {SimulatorSource::Pattern::MovingGradient, SimulatorSource::Pattern::TestChart})
            for (const bool gray : {true, false})
                for (const int bits : {1, 8, 10, 12, 16})
                    for (const auto& size : sizes) {
                        SimulatorSource::Settings s{{size.width, size.height, bits, gray}, 0, pattern};
                        s.linesPerChunk = size.linesPerChunk;
                        QTest::addRow("%s %s %d bits %dx%d chunk %d",
                                      pattern == SimulatorSource::Pattern::TestChart ? "chart" : "gradient",
                                      gray ? "gray" : "colour", bits, size.width, size.height, size.linesPerChunk)
                            << s << size.width << gray;
                    }
        // A target of another shape than the format: the chart keeps the format's geometry.
        const auto chart = SimulatorSource::Pattern::TestChart;
        QTest::newRow("chart into a wider target") << SimulatorSource::Settings{{300, 4, 8, true}, 0, chart} << 301 << true;
        QTest::newRow("chart into a narrower target") << SimulatorSource::Settings{{9, 5, 10, false}, 0, chart} << 8 << false;
        QTest::newRow("colour gradient into gray") << SimulatorSource::Settings{{257, 3, 12, false}, 0} << 257 << true;
    }

    void fillMatchesPatternValue()
    {
        QFETCH(SimulatorSource::Settings, settings);
        QFETCH(int, targetWidth);
        QFETCH(bool, targetGray);
        const FrameFormat& f = settings.format;
        SimulatorSource source(settings);
        FrameBuffer buffer(targetWidth, f.height, f.bitsPerPixel, targetGray);
        const int channels = buffer.channels();
        const int samples = targetWidth * channels;
        source.start();
        std::int64_t n = 0;
        // 128 frames move the saw-tooth a whole period; by frame 1000 2n has wrapped it often.
        for (const std::int64_t frame : {0, 1, 127, 128, 1000}) {
            for (; n < frame; ++n)
                QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Frame);
            // Every sample starts as the complement of what it should become: none is skipped.
            for (int y = 0; y < f.height; ++y)
                for (int i = 0; i < samples; ++i)
                    buffer.line(y)[i] = ~SimulatorSource::patternValue(settings, i / channels, y, n, i % channels);
            QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
            ++n;
            for (int y = 0; y < f.height; ++y)
                for (int i = 0; i < samples; ++i) {
                    const std::uint64_t expected =
                        SimulatorSource::patternValue(settings, i / channels, y, frame, i % channels);
                    if (buffer.line(y)[i] != expected)
                        QFAIL(qPrintable(QString("frame %1 x %2 y %3 channel %4: %5, not %6")
                                             .arg(frame)
                                             .arg(i / channels)
                                             .arg(y)
                                             .arg(i % channels)
                                             .arg(buffer.line(y)[i])
                                             .arg(expected)));
                }
        }
    }

    void chunkedDelivery()
    {
        SimulatorSource source({{16, 10, 8, true}, 0, {}, {}, 4}); // lines in chunks of 4
        FrameBuffer buffer(16, 10, 8, true);
        source.start();
        QList<QPoint> progress; // (lines reported, lines published when reported)
        const auto report = [&](int lines) {
            int x = 0, y = 0;
            buffer.lastValidPixel(&x, &y);
            progress << QPoint(lines, y + 1);
        };
        QCOMPARE(source.deliverFrame(&buffer, report), FrameSource::Delivery::Frame);
        // 10 lines in chunks of 4: 4, 8, 10, each published before it is reported.
        QCOMPARE(progress, (QList<QPoint>{{4, 4}, {8, 8}, {10, 10}}));
        // Without a target the frame is consumed: the next one is frame 2, g(0 + 0 + 2 * 2) at (0, 0).
        QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Frame);
        QCOMPARE(source.deliverFrame(&buffer, {}), FrameSource::Delivery::Frame);
        QCOMPARE(QPoint(int(buffer.tag()), buffer.line(0)[0]), QPoint(2, 4));
    }

    void cancelEndsAWait()
    {
        SimulatorSource source({{8, 8, 8, true}, 0.001}); // one frame in 1000 s
        for (bool useStop : {false, true}) {
            source.start();
            QVERIFY(source.status().clock && !source.status().extrg);
            FrameSource::Delivery result = FrameSource::Delivery::Frame;
            std::thread waiter([&] { result = source.waitForFrame(); });
            useStop ? source.stop() : source.cancel();
            waiter.join();
            QCOMPARE(result, FrameSource::Delivery::Cancelled);
            // A cancelled source stays cancelled until it is started again.
            QCOMPARE(source.deliverFrame(nullptr, {}), FrameSource::Delivery::Cancelled);
        }
        QCOMPARE(source.status().clock, false);
    }

    void refusesBadFormats()
    {
        SimulatorSource source({{8, 8, 8, true}, 0});
        QVERIFY(!source.setFormat({8, 8, 0, true}) && !source.setFormat({8, 8, 17, true}));
        QVERIFY(!source.setFormat({-1, 8, 8, true}));
        QCOMPARE(source.format(), (FrameFormat{8, 8, 8, true}));
        QVERIFY(source.setFormat({0, 0, 16, false}));
        QCOMPARE(source.format(), (FrameFormat{0, 0, 16, false}));
    }
};

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
