// The camera source against the camera library's in-process fake camera: every grab mode
// through a scene, pixels against the fake camera's pattern, frame ids against drops,
// stop and restart, and formats that must be refused. Only the fake interface is enabled,
// so nothing goes onto a network.

#include "../runtime/RuntimeTestSupport.h"

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <arv.h>

#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <map>

using namespace vexo::core;

namespace {

constexpr int patience = 20000; // ms: an upper bound for a loaded machine, not a duration

std::unique_ptr<CameraSource> openFake(const std::string& pixelFormat, int width = 64, int height = 48)
{
    return std::unique_ptr<CameraSource>(new CameraSource({"Fake_1", pixelFormat, width, height, 200}));
}

// The fake camera's diagonal ramp: (x + y + frame id) mod 255, in the top byte for Mono16.
int ramp(int x, int y, std::uint32_t frameId)
{
    return int((std::uint64_t(x) + std::uint64_t(y) + frameId) % 255);
}

// Tags of the stored frames, in the order the scene stored them (acquisition thread), with
// a 0 where a later run starts: GigE Vision block ids skip 0 when they wrap.
struct TagLog
{
    std::mutex mutex;
    std::vector<std::uint32_t> tags;
    explicit TagLog(RecordingVisualizer& v) { v.onBuffer = [this](const boost::shared_ptr<FrameBuffer>& b) { add(b->tag()); }; }
    void add(std::uint32_t tag)
    {
        std::lock_guard<std::mutex> lock(mutex);
        tags.push_back(tag);
    }
    // The ids skipped from one stored frame to the next within a run; with rising a test
    // that each id follows the one before within 1000 (through the wrap, where 65535 is
    // followed by 1, and from one run to the next), else the most there is. Between runs
    // the camera's ids go on with nobody grabbing, so those gaps are neither drops nor losses.
    std::uint64_t skipped(bool rising)
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::uint64_t sum = 0;
        for (std::size_t i = 1, previous = 0; i < tags.size(); ++i) {
            if (tags[i] == 0)
                continue;
            const std::uint32_t from = tags[previous], to = tags[i];
            const std::uint64_t step = to > from ? to - from : (65535 - from) + to;
            if (rising && (step < 1 || step >= 1000))
                return std::numeric_limits<std::uint64_t>::max();
            sum += tags[i - 1] != 0 ? step - 1 : 0;
            previous = i;
        }
        return sum;
    }
};

// The frame a single grab stored; null when the grab did not end.
boost::shared_ptr<FrameBuffer> grabOne(const boost::shared_ptr<DisplayScene>& scene)
{
    scene->startGrabbing(1);
    if (!QTest::qWaitFor([&] { return !scene->isGrabbing(); }, patience))
        return nullptr;
    return scene->frameBufferGroup()->buffer(scene->frameBufferGroup()->frameCounter() - 1);
}

} // namespace

class TestCameraSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Discovery would broadcast on every network interface; the fake needs none.
        arv_disable_interface("GigEVision");
        arv_disable_interface("USB3Vision");
        CameraSource::enableFakeCamera();
    }

    void listAndOpen()
    {
        const auto cameras = CameraSource::listCameras();
        QVERIFY(std::any_of(cameras.begin(), cameras.end(),
                            [](const CameraSource::Camera& c) { return c.id == "Fake_1" && c.protocol == "Fake"; }));
        const auto camera = openFake("Mono8", 100, 30);
        QVERIFY2(camera->isUsable(), camera->lastError().c_str());
        QCOMPARE(camera->format(), (FrameFormat{100, 30, 8, true}));
        QCOMPARE(camera->pixelFormatName(), std::string("Mono8"));
        QVERIFY(camera->status().connected && !camera->status().clock);
        // A format the camera does not offer is refused and the old one stays.
        QVERIFY(!camera->setFormat(FrameFormat{100, 30, 12, true}));
        QCOMPARE(camera->format(), (FrameFormat{100, 30, 8, true}));
        QVERIFY(camera->setFormat(FrameFormat{80, 20, 16, true}));
        QCOMPARE(camera->pixelFormatName(), std::string("Mono16"));
        // Starting what is not there is refused, and says why.
        CameraSource absent({"NoSuchCamera", ""});
        QVERIFY(!absent.isUsable() && !absent.status().connected && absent.lastError().find("NoSuchCamera") != std::string::npos);
        QVERIFY(!absent.start());
        QVERIFY2(absent.problem().find("NoSuchCamera") != std::string::npos, absent.problem().c_str());
        QCOMPARE(absent.waitForFrame(), FrameSource::Delivery::Failed);
    }

    void grabModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("pixelFormat");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("runs"); // grabs one after the other on the same opened camera
        QTest::newRow("sequence Mono8") << 0 << "Mono8" << 8 << 1;
        QTest::newRow("single Mono8, twice") << 1 << "Mono8" << 8 << 2;
        QTest::newRow("infinite Mono8") << -1 << "Mono8" << 8 << 1;
        QTest::newRow("sequence Mono16") << 0 << "Mono16" << 16 << 1;
    }

    void grabModes()
    {
        QFETCH(int, mode);
        QFETCH(QString, pixelFormat);
        QFETCH(int, bits);
        QFETCH(int, runs);
        const int ring = 4;
        auto scene = DisplayScene::create(openFake(pixelFormat.toStdString()), ring);
        QCOMPARE(scene->format(), (FrameFormat{64, 48, bits, true}));
        RecordingVisualizer visualizer;
        TagLog log(visualizer);
        scene->attachVisualizer(&visualizer);
        std::uint64_t lastRunFrom = 0; // frames acquired before the last run
        for (int run = 0; run < runs; ++run) {
            if (run > 0)
                log.add(0);
            lastRunFrom = scene->statistics().framesAcquired;
            scene->startGrabbing(mode);
            if (mode < 0) {
                QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 3 * ring, patience);
                scene->stopGrabbing();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
            // Still there, but with no frames coming there is no clock.
            QVERIFY(scene->source().status().connected && !scene->source().status().clock);
        }
        const auto statistics = scene->statistics();
        QVERIFY(mode < 0 || statistics.framesAcquired == std::uint64_t(mode == 0 ? ring : runs));
        // Frame ids rise; every id skipped within a run is a frame counted as dropped or lost.
        QCOMPARE(visualizer.count("buffer"), int(statistics.framesAcquired));
        QVERIFY(log.skipped(true) <= statistics.framesDropped + scene->source().status().framesLost);
        // Every frame the last run stored is the camera's pattern for its frame id, with its metadata.
        const auto group = scene->frameBufferGroup();
        QCOMPARE(group->size(), std::min<int>(ring, int(statistics.framesAcquired - lastRunFrom)));
        std::uint64_t previousTime = 0;
        for (std::int64_t k = group->frameCounter() - group->size(); k < group->frameCounter(); ++k) {
            const auto buffer = group->buffer(k);
            QVERIFY(buffer && buffer->timestamp() > previousTime);
            QCOMPARE(buffer->transferLength(), std::uint64_t(64 * 48 * bits / 8));
            previousTime = buffer->timestamp();
            int x = -1, y = -1;
            buffer->lastValidPixel(&x, &y);
            QCOMPARE(QPoint(x, y), QPoint(63, 47));
            std::vector<std::uint16_t> sent;
            for (int py = 0; py < 48; ++py)
                for (int px = 0; px < 64; ++px)
                    sent.push_back(std::uint16_t(ramp(px, py, buffer->tag()) << (bits - 8)));
            std::vector<std::uint16_t> stored = samplesOf(*buffer);
            for (auto& v : stored)
                v &= std::uint16_t(0xff << (bits - 8)); // Mono16 carries the ramp in its top byte
            QCOMPARE(stored, sent);
        }
        scene->detachVisualizer(&visualizer);
    }

    // A reader holding the ring makes the scene drop frames; their camera buffers must go
    // back to the stream at once, or the stream runs dry and acquisition stalls.
    void dropsGiveBuffersBack()
    {
        const int ring = 4;
        auto scene = DisplayScene::create(openFake("Mono8"), ring);
        RecordingVisualizer visualizer;
        TagLog log(visualizer);
        scene->attachVisualizer(&visualizer);
        scene->startGrabbing(-1);
        QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 3, patience);
        const auto group = scene->frameBufferGroup();
        bool locked = false; // taken once: the macro evaluates its condition once more at the end
        QTRY_VERIFY_WITH_TIMEOUT(locked = locked || group->try_readlock(), patience);
        // Far more drops than the stream has buffers.
        QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesDropped >= std::uint64_t(3 * ring), patience);
        group->unlock();
        const std::uint64_t acquiredAfterDrops = scene->statistics().framesAcquired;
        QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= acquiredAfterDrops + 5, patience);
        scene->stopGrabbing();
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
        // No loss count is asserted: the stream holds only ring-many buffers, so a loaded,
        // sanitized run can lose a frame to scheduling alone. Buffers kept on a drop would stall
        // the stream for good, which the waits above catch. Frames dropped after the last
        // stored one leave no gap behind.
        const std::uint64_t skipped = log.skipped(false);
        QVERIFY(skipped >= std::uint64_t(3 * ring) && skipped <= scene->statistics().framesDropped + scene->source().status().framesLost);
        const auto calls = visualizer.calls(); // an overflow was shown
        QVERIFY(std::any_of(calls.begin(), calls.end(), [](const auto& c) { return c.name == "status" && c.flag; }));
        scene->detachVisualizer(&visualizer);
    }

    // The fake camera paints colour as a function of x + y + frame id: its RGB8 frame gives
    // that function. In a Bayer frame each site must hold the colour the camera painted
    // there. (The phases themselves are the converter's test; the fake camera paints
    // BayerGR8 as the format names it, but not all of the others.)
    void bayerMatchesTheCamera()
    {
        std::map<std::uint64_t, std::array<int, 3>> colourAt;
        const auto rgb = grabOne(DisplayScene::create(openFake("RGB8"), 3));
        QVERIFY(rgb && !rgb->isGray());
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                colourAt[std::uint64_t(x) + y + rgb->tag()] = {rgb->line(y)[3 * x], rgb->line(y)[3 * x + 1], rgb->line(y)[3 * x + 2]};
        auto scene = DisplayScene::create(openFake("BayerGR8"), 3);
        QCOMPARE(scene->format(), (FrameFormat{64, 48, 8, false}));
        const auto buffer = grabOne(scene);
        QVERIFY(buffer);
        std::vector<int> read, painted; // at the sites whose colour the RGB8 frame gave
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const auto known = colourAt.find(std::uint64_t(x) + y + buffer->tag());
                const int site = QString("RGB").indexOf(QLatin1Char("GRBG"[(y & 1) * 2 + (x & 1)]));
                if (known != colourAt.end()) {
                    read.push_back(buffer->line(y)[3 * x + site]);
                    painted.push_back(known->second[site]);
                }
            }
        QVERIFY(read.size() > 64 * 48 / 2);
        QCOMPARE(read, painted);
    }

    // A camera set to a format we cannot show is refused with its name, and a scene over it
    // never shows a frame.
    void unsupportedFormatIsRefused()
    {
        QTemporaryDir dir;
        ArvFakeCamera* model = arv_fake_camera_new("xml");
        size_t size = 0;
        QByteArray xml(arv_fake_camera_get_genicam_xml(model, &size));
        g_object_unref(model);
        const QByteArray entry = "<EnumEntry Name=\"Mono8\" NameSpace=\"Standard\">";
        QVERIFY(xml.contains(entry));
        xml.replace(entry, "<EnumEntry Name=\"Mono12Packed\" NameSpace=\"Standard\"><Value>17563654</Value></EnumEntry>\n" + entry);
        QFile file(dir.filePath("camera.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size());
        file.close();
        arv_set_fake_camera_genicam_filename(QFile::encodeName(file.fileName()).constData());
        auto camera = openFake("Mono12Packed");
        arv_set_fake_camera_genicam_filename(nullptr);
        const std::string error = camera->lastError();
        QVERIFY(!camera->isUsable());
        QVERIFY2(error.find("Mono12Packed") != std::string::npos && error.find("not supported") != std::string::npos, error.c_str());
        auto scene = DisplayScene::create(std::move(camera), 3);
        scene->startGrabbing(-1);
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
        QCOMPARE(scene->statistics().framesAcquired, std::uint64_t(0));
        QCOMPARE(scene->frameBufferGroup()->size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCameraSource)
#include "tst_camera_source.moc"
