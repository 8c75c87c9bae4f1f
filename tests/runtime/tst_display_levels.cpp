// Display levels: the mapping of a range onto the canvas (hand-worked words at a few
// values, with gamma and for colour), the Auto percentiles on frames of a known histogram,
// and a scene that renders with the levels set and reports the range in use.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/AutoLevels.h"
#include "vexo-lib-display/DisplayLevels.h"
#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/LevelsTable.h"
#include "vexo-lib-display/SceneRenderer.h"
#include "vexo-lib-display/ZoomStep.h"

#include <QtTest>

#include <cstdint>
#include <vector>

using vexo::core::AutoLevels;
using vexo::core::DisplayLevels;
using vexo::core::DisplayScene;
using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LevelsTable;
using vexo::core::SceneRenderer;
using vexo::core::ZoomStep;

using Range = DisplayLevels::Range;

Q_DECLARE_METATYPE(DisplayLevels)
Q_DECLARE_METATYPE(Range)

namespace {

char* rangeText(const Range& r)
{
    return QTest::toString(QStringLiteral("%1,%2").arg(r.minimum).arg(r.maximum));
}

std::uint32_t grayWord(std::uint32_t c)
{
    return 0xff000000u | c << 16 | c << 8 | c;
}

// The 200 x 50 frame of the Auto cases: in each row of 200 pixels, x mod 100 = 99 is 4000
// (1% of all), the others 100 + 2 (x mod 100): the values 100, 102 .. 296, 100 pixels
// each. Sorted, ranks 100k .. 100k + 99 hold 100 + 2k and ranks 9900 .. 9999 hold 4000.
void fillKnownHistogram(FrameBuffer& b)
{
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            b.line(y)[x] = std::uint16_t(x % 100 == 99 ? 4000 : 100 + 2 * (x % 100));
}

} // namespace

namespace QTest {
template <>
char* toString(const Range& r)
{
    return rangeText(r);
}
} // namespace QTest

class TestDisplayLevels : public QObject
{
    Q_OBJECT

private slots:
    // Values are put at two neighbouring pixels each and read back at their canvas
    // columns; rendering asks for the fastest kernels, which a table must override.
    void mapping_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<int>("zoom");
        QTest::addColumn<DisplayLevels>("levels");
        QTest::addColumn<QString>("probes"); // "value=brightness ..."

        const auto m400 = DisplayLevels::manual(0, 400);
        QTest::newRow("12 bits, 0..400, 1:1") << 12 << true << 6 << m400
                                               << "0=0 400=255 200=128 100=64 401=255 4095=255 1=1";
        QTest::newRow("12 bits, 0..400, 2:1") << 12 << true << 7 << m400 << "200=128 399=254 3000=255";
        QTest::newRow("below the minimum is black")
            << 12 << true << 6 << DisplayLevels::manual(100, 400) << "99=0 100=0 101=1 250=128 400=255 0=0";
        QTest::newRow("gamma 2 brightens the middle")
            << 12 << true << 6 << DisplayLevels::manual(0, 400, 2.0) << "100=128 200=180 0=0 400=255";
        QTest::newRow("gamma 0.5 darkens it")
            << 12 << true << 6 << DisplayLevels::manual(0, 400, 0.5) << "200=64 100=16 400=255";
        QTest::newRow("8 bits, 0..255 is the identity")
            << 8 << true << 6 << DisplayLevels::manual(0, 255) << "37=37 128=128 255=255 1=1";
        QTest::newRow("16 bits, full range") << 16 << true << 6 << DisplayLevels::manual(0, 65535)
                                             << "32768=128 65535=255 1=0 257=1";
        QTest::newRow("reversed range is one wide")
            << 12 << true << 6 << DisplayLevels::manual(300, 200) << "300=0 301=255 299=0";
        QTest::newRow("colour, 0..400, 1:1") << 12 << false << 6 << m400 << "200=128 0=0 400=255";
        QTest::newRow("colour, 0..400, 1:4") << 12 << false << 4 << m400 << "200=128 100=64";
    }
    void mapping()
    {
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QFETCH(int, zoom);
        QFETCH(DisplayLevels, levels);
        QFETCH(QString, probes);

        std::vector<std::pair<int, std::uint32_t>> expected;
        for (const QString& p : probes.split(' ')) {
            const QStringList parts = p.split('=');
            expected.emplace_back(parts[0].toInt(), parts[1].toUInt());
        }
        // Colour: red is the value, green 0 and blue 400, so all three share the range.
        const int repeat = zoom < ZoomStep::unity ? ZoomStep(zoom).stepSize() : 1;
        const int width = int(expected.size()) * 2 * repeat;
        const int height = 2 * repeat;
        FrameBuffer buffer(width, height, bits, gray);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const auto v = std::uint64_t(expected[std::size_t(x / (2 * repeat))].first);
                if (gray)
                    buffer.setPixelValueGray(unsigned(x), unsigned(y), v);
                else
                    buffer.setPixelValueColor(unsigned(x), unsigned(y), v, 0, 400);
            }
        buffer.setComplete();

        LevelsTable table;
        SceneRenderer::View view;
        view.zoomStep = zoom;
        view.table = table.table(levels.manualRange(), levels.gamma);
        const ZoomStep step(zoom);
        DisplaySceneFrame frame(width * step.pixelSize() / step.stepSize(), height * step.pixelSize() / step.stepSize());
        SceneRenderer::render(buffer, view, frame, SceneRenderer::Kernels::Fastest);

        const std::uint32_t blue = LevelsTable::brightness(400, levels.manualRange(), levels.gamma);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const int column = int(i) * 2 * repeat * step.pixelSize() / step.stepSize();
            const std::uint32_t c = expected[i].second;
            const std::uint32_t want = gray ? grayWord(c) : 0xff000000u | c << 16 | blue;
            QVERIFY2(frame.canvasLine(0)[column] == want,
                     qPrintable(QStringLiteral("value %1: %2, expected %3")
                                    .arg(expected[i].first)
                                    .arg(frame.canvasLine(0)[column], 8, 16)
                                    .arg(want, 8, 16)));
            QCOMPARE(frame.canvasLine(1)[column], frame.canvasLine(0)[column]);
        }
    }

    // The render thread asks for the table with every frame: only a new range or gamma
    // may cost a rebuild.
    void tableRebuiltOnlyOnChange()
    {
        LevelsTable table;
        const std::uint32_t* first = table.table({0, 400}, 1.0);
        QCOMPARE(table.builds(), 1);
        QCOMPARE(table.table({0, 400}, 1.0), first);
        QCOMPARE(table.builds(), 1);
        QCOMPARE(table.table({0, 401}, 1.0)[400], grayWord(254)); // 255 x 400 / 401 = 254.36
        QCOMPARE(table.builds(), 2);
        table.table({0, 401}, 2.0);
        QCOMPARE(table.builds(), 3);
        // A gamma that is no number is 1, and so no change.
        table.table({0, 401}, 1.0);
        table.table({0, 401}, -3.0);
        QCOMPARE(table.builds(), 4);
    }

    void autoLevels_data()
    {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<QPoint>("lastValid"); // (-2, -2): complete
        QTest::addColumn<int>("flat"); // > 0: every pixel that value instead
        QTest::addColumn<Range>("expected");

        const QPoint complete(-2, -2);
        // Ranks of 10000 samples: floor(9999 * low / 100) and ceil(9999 * high / 100).
        QTest::newRow("default percentiles keep the 1% at 4000") << 0.1 << 99.9 << complete << 0 << Range{100, 4000};
        QTest::newRow("98%: rank 9800 is the last 296") << 0.1 << 98.0 << complete << 0 << Range{100, 296};
        QTest::newRow("97%: rank 9700 is 294") << 0.1 << 97.0 << complete << 0 << Range{100, 294};
        QTest::newRow("5%: rank 499 is 108") << 5.0 << 99.0 << complete << 0 << Range{108, 4000};
        QTest::newRow("1%: rank 99 is still 100, 1.01% rank 100 is 102")
            << 1.01 << 99.0 << complete << 0 << Range{102, 4000};
        QTest::newRow("0..100: the extremes") << 0.0 << 100.0 << complete << 0 << Range{100, 4000};
        QTest::newRow("flat frame is widened by one") << 0.1 << 99.9 << complete << 300 << Range{300, 301};
        QTest::newRow("flat at the top") << 0.1 << 99.9 << complete << 65535 << Range{65534, 65535};
        // Unwritten lines hold 60000, which must not count.
        QTest::newRow("ten lines written") << 0.0 << 100.0 << QPoint(199, 9) << 0 << Range{100, 4000};
        QTest::newRow("first 50 columns written") << 0.0 << 100.0 << QPoint(49, 0) << 0 << Range{100, 198};
    }
    void autoLevels()
    {
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(QPoint, lastValid);
        QFETCH(int, flat);
        QFETCH(Range, expected);

        FrameBuffer buffer(200, 50, 12, true);
        fillKnownHistogram(buffer);
        if (flat > 0)
            for (int y = 0; y < buffer.height(); ++y)
                std::fill(buffer.line(y), buffer.line(y) + buffer.width(), std::uint16_t(flat));
        if (lastValid.x() == -2) {
            buffer.setComplete();
        } else {
            for (int y = lastValid.y(); y < buffer.height(); ++y)
                for (int x = y == lastValid.y() ? lastValid.x() + 1 : 0; x < buffer.width(); ++x)
                    buffer.line(y)[x] = 60000;
            buffer.setLastValidPixel(lastValid.x(), lastValid.y());
        }
        AutoLevels measure;
        Range range;
        QVERIFY(measure.measure(buffer, low, high, &range));
        QCOMPARE(range, expected);
        // Measured again with the same histogram buffer: nothing left from the first time.
        Range again;
        QVERIFY(measure.measure(buffer, low, high, &again));
        QCOMPARE(again, expected);
    }

    // Nothing written measures nothing; a single written pixel is a frame like any other.
    void autoLevelsOfNothingWritten()
    {
        FrameBuffer buffer(200, 50, 12, true);
        AutoLevels measure;
        Range range{7, 8};
        QVERIFY(!measure.measure(buffer, 0.1, 99.9, &range));
        QCOMPARE(range, (Range{7, 8}));
        FrameBuffer pixel(1, 1, 12, true);
        pixel.line(0)[0] = 900;
        pixel.setComplete();
        QVERIFY(measure.measure(pixel, 0.1, 99.9, &range));
        QCOMPARE(range, (Range{900, 901}));
    }

    // A scene over a 12-bit frame whose pixel x is 10 x (0 .. 400) renders with each
    // change of levels in turn and reports the range it uses, also after a change that
    // keeps the range of the last (Auto measuring what a Manual range had). Default brings
    // back the plain mapping (400 >> 4 = 25).
    void sceneFollowsEachChange()
    {
        SceneRig rig(DisplayScene::create({41, 1, 12, true}, 3), {41, 1}, true);
        auto& [scene, visualizer] = rig;
        scene->setZoomFactorAndOffset(ZoomStep::unity, 0, 0);
        scene->startGrabbing(1);
        manual(scene).pushFrame([](FrameBuffer& b) {
            for (int i = 0; i < b.width(); ++i)
                b.line(0)[i] = std::uint16_t(10 * i);
        });
        QTRY_VERIFY(!scene->isGrabbing());
        QCOMPARE(scene->levelsInUse(), (Range{0, 4095}));
        const struct
        {
            DisplayLevels levels;
            Range inUse;
            int x;
            std::uint32_t brightness;
        } steps[] = {
            {DisplayLevels::manual(0, 400), {0, 400}, 40, 255},
            {DisplayLevels::manual(0, 400, 2.0), {0, 400}, 10, 128},
            // 41 samples: ranks floor(40 * 5 / 100) = 2 and ceil(40 * 95 / 100) = 38.
            {DisplayLevels::automatic(5, 95), {20, 380}, 20, 128},
            {DisplayLevels::manual(20, 380), {20, 380}, 38, 255},
            {DisplayLevels::automatic(5, 95), {20, 380}, 2, 0},
            {DisplayLevels::automatic(), {0, 400}, 30, 191},
            {DisplayLevels(), {0, 4095}, 40, 25},
        };
        for (const auto& step : steps) {
            const std::uint64_t rendered = scene->statistics().framesRendered;
            scene->setDisplayLevels(step.levels);
            QCOMPARE(scene->displayLevels(), step.levels);
            QTRY_VERIFY(scene->statistics().framesRendered > rendered);
            QTRY_COMPARE(scene->levelsInUse(), step.inUse);
            const auto shows = [&] {
                const auto frame = visualizer.newestFrame();
                return frame && frame->canvasLine(0)[step.x] == grayWord(step.brightness);
            };
            QTRY_VERIFY(shows());
        }
    }
};

QTEST_GUILESS_MAIN(TestDisplayLevels)
#include "tst_display_levels.moc"
