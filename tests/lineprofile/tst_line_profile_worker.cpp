// The line profile worker: the picture it draws for a line, and its picture store.

#include "ProfileReference.h"

#include "lineprofile/Qt4LineProfileThread.h"

#include <QSignalSpy>
#include <QtTest>

#include <cstdint>
#include <vector>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::Qt4LineProfileThread;
using namespace profiletest;

using Values = std::vector<std::uint64_t>;
Q_DECLARE_METATYPE(Values)

namespace {

// One run on the calling test's worker, waited for.
void runOnce(Qt4LineProfileThread& worker, const boost::shared_ptr<DisplaySceneFrame>& frame, int y)
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

std::uint32_t word(const Qt4LineProfileThread& worker, int x, int row)
{
    return reinterpret_cast<const std::uint32_t*>(worker.buffer)[row * worker.bufferWidth + x];
}

// Compares the worker's raw words with the rules, pixel by pixel.
QString compareWithRules(const Qt4LineProfileThread& worker, const FrameBuffer& buffer, int y)
{
    if (!worker.image || !worker.buffer)
        return QStringLiteral("no picture");
    if (worker.image->width() != buffer.width() || worker.image->height() != 256
        || worker.image->format() != QImage::Format_RGB32
        || worker.image->bytesPerLine() != buffer.width() * 4
        || worker.image->constBits() != worker.buffer)
        return QStringLiteral("picture does not wrap the store as W x 256 RGB32");
    for (int row = 0; row < 256; ++row)
        for (int x = 0; x < buffer.width(); ++x) {
            const std::uint32_t got = word(worker, x, row);
            const std::uint32_t want = expectedWord(buffer, x, row, y);
            if (got != want)
                return QStringLiteral("x %1 row %2: %3 expected %4")
                    .arg(x).arg(row).arg(got, 8, 16, QLatin1Char('0'))
                    .arg(want, 8, 16, QLatin1Char('0'));
        }
    return QString();
}

} // namespace

class TestLineProfileWorker : public QObject
{
    Q_OBJECT

private slots:
    void pictureFollowsRules_data();
    void pictureFollowsRules();
    void examplePixels_data();
    void examplePixels();
    void storeReusedUntilWidthChanges();
    void runWithoutBufferKeepsPicture();
};

void TestLineProfileWorker::pictureFollowsRules_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<bool>("gray");
    // Line 1 of a three-line buffer; for colour, R, G, B of each sample in a row.
    QTest::addColumn<Values>("line");

    QTest::newRow("gray 8") << 8 << true << Values{0, 1, 127, 128, 254, 255};
    QTest::newRow("gray 8 above depth") << 8 << true << Values{256, 300, 65535, 255};
    QTest::newRow("gray 12") << 12 << true << Values{0, 15, 16, 2048, 4080, 4095};
    QTest::newRow("gray 12 above depth") << 12 << true << Values{4096, 8191, 65535, 4095};
    QTest::newRow("gray 16") << 16 << true << Values{0, 255, 256, 32768, 65535};
    QTest::newRow("gray 4") << 4 << true << Values{0, 1, 8, 15};
    QTest::newRow("gray 4 above depth") << 4 << true << Values{16, 17, 40, 255};
    QTest::newRow("gray 1") << 1 << true << Values{0, 1, 1, 0};
    QTest::newRow("gray 1 above depth") << 1 << true << Values{2, 3};
    QTest::newRow("colour 8") << 8 << false << Values{100, 100, 50, 0, 255, 128, 7, 7, 7};
    QTest::newRow("colour 8 above depth") << 8 << false << Values{300, 10, 255, 256, 256, 0};
    QTest::newRow("colour 10") << 10 << false << Values{1023, 512, 0, 4, 3, 1024};
    QTest::newRow("colour 6") << 6 << false << Values{63, 32, 0, 64, 1, 1};
}

void TestLineProfileWorker::pictureFollowsRules()
{
    QFETCH(int, bpp);
    QFETCH(bool, gray);
    QFETCH(Values, line);

    const int width = gray ? int(line.size()) : int(line.size() / 3);
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, 3, bpp, gray));
    for (int x = 0; x < width; ++x) {
        // Lines 0 and 2 hold other values, so reading the wrong line shows.
        if (gray) {
            buffer->setPixelValueGray(x, 0, 1);
            buffer->setPixelValueGray(x, 1, line[x]);
            buffer->setPixelValueGray(x, 2, 0xffff);
        } else {
            buffer->setPixelValueColor(x, 0, 1, 1, 1);
            buffer->setPixelValueColor(x, 1, line[3 * x], line[3 * x + 1], line[3 * x + 2]);
            buffer->setPixelValueColor(x, 2, 0xffff, 0, 0xffff);
        }
    }

    Qt4LineProfileThread worker;
    runOnce(worker, frameOf(buffer), 1);
    const QString difference = compareWithRules(worker, *buffer, 1);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestLineProfileWorker::examplePixels_data()
{
    QTest::addColumn<int>("bpp");
    QTest::addColumn<Values>("sample"); // one value for gray, R, G, B for colour
    QTest::addColumn<int>("row");
    QTest::addColumn<uint>("expected");

    QTest::newRow("0: curve in the bottom row") << 8 << Values{0} << 255 << 0xFFFFFFu;
    QTest::newRow("0: nothing above") << 8 << Values{0} << 254 << 0u;
    QTest::newRow("128: curve") << 8 << Values{128} << 127 << 0xFFFFFFu;
    QTest::newRow("128: fill below") << 8 << Values{128} << 128 << 0x444444u;
    QTest::newRow("128: black above") << 8 << Values{128} << 126 << 0u;
    QTest::newRow("255: top row") << 8 << Values{255} << 0 << 0xFFFFFFu;
    QTest::newRow("12 bits 4095: top row") << 12 << Values{4095} << 0 << 0xFFFFFFu;
    QTest::newRow("4 bits 15: row 15") << 4 << Values{15} << 15 << 0xFFFFFFu;
    QTest::newRow("above the depth fills the top row") << 8 << Values{256} << 0 << 0x444444u;
    QTest::newRow("R=G curve mixes") << 8 << Values{100, 100, 50} << 155 << 0xFFFF00u;
    QTest::newRow("R, G fills mix") << 8 << Values{100, 100, 50} << 195 << 0x444400u;
    QTest::newRow("B curve hides fills") << 8 << Values{100, 100, 50} << 205 << 0x0000FFu;
    QTest::newRow("all fills") << 8 << Values{100, 100, 50} << 235 << 0x444444u;
}

void TestLineProfileWorker::examplePixels()
{
    QFETCH(int, bpp);
    QFETCH(Values, sample);
    QFETCH(int, row);
    QFETCH(uint, expected);

    const bool gray = sample.size() == 1;
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(1, 1, bpp, gray));
    if (gray)
        buffer->setPixelValueGray(0, 0, sample[0]);
    else
        buffer->setPixelValueColor(0, 0, sample[0], sample[1], sample[2]);
    Qt4LineProfileThread worker;
    runOnce(worker, frameOf(buffer), 0);
    QCOMPARE(word(worker, 0, row), std::uint32_t(expected));
}

void TestLineProfileWorker::storeReusedUntilWidthChanges()
{
    Qt4LineProfileThread worker;
    auto wide = grayBuffer(64, 2, 8, [](int x, int y) { return std::uint64_t(x * 4 + y); });
    auto wideOther = grayBuffer(64, 2, 8, [](int x, int) { return std::uint64_t(255 - x); });
    auto narrow = grayBuffer(32, 2, 8, [](int x, int) { return std::uint64_t(x * 8); });

    runOnce(worker, frameOf(wide), 1);
    unsigned char* const store = worker.buffer;
    QImage* const image = worker.image;
    QVERIFY(store && image);

    // Same width: same store and image, new content.
    runOnce(worker, frameOf(wideOther), 0);
    QCOMPARE(worker.buffer, store);
    QCOMPARE(worker.image, image);
    QVERIFY2(compareWithRules(worker, *wideOther, 0).isEmpty(),
             qPrintable(compareWithRules(worker, *wideOther, 0)));

    // Another width: a store and image of that width.
    runOnce(worker, frameOf(narrow), 1);
    QCOMPARE(worker.bufferWidth, 32);
    QCOMPARE(worker.image->width(), 32);
    QVERIFY2(compareWithRules(worker, *narrow, 1).isEmpty(),
             qPrintable(compareWithRules(worker, *narrow, 1)));

    // After the store is freed the next run makes it anew.
    worker.freePicture();
    QVERIFY(!worker.buffer && !worker.image);
    runOnce(worker, frameOf(narrow), 0);
    QVERIFY2(compareWithRules(worker, *narrow, 0).isEmpty(),
             qPrintable(compareWithRules(worker, *narrow, 0)));
}

void TestLineProfileWorker::runWithoutBufferKeepsPicture()
{
    Qt4LineProfileThread worker;
    QSignalSpy finished(&worker, SIGNAL(finished()));
    auto buffer = grayBuffer(16, 1, 8, [](int x, int) { return std::uint64_t(x * 16); });
    runOnce(worker, frameOf(buffer), 0);
    const QImage before = worker.image->copy();

    // No frame, then a frame without a buffer: both runs end without drawing, and each
    // still reports its end.
    runOnce(worker, boost::shared_ptr<DisplaySceneFrame>(), 0);
    runOnce(worker, frameOf(boost::shared_ptr<FrameBuffer>()), 0);
    QTRY_COMPARE(finished.count(), 3);
    QCOMPARE(*worker.image, before);
    QVERIFY(!worker.drawing);
}

QTEST_GUILESS_MAIN(TestLineProfileWorker)
#include "tst_line_profile_worker.moc"
