// The camera source against the camera library's in-process fake camera: every grab mode
// through a scene, pixels against the fake camera's pattern, frame ids against drops,
// stop and restart, and cameras that must be refused. Only the fake interface is enabled,
// so nothing goes onto a network. (The Bayer phases are the converter's test.)

// Aravis's headers before Qt's, whose keywords are macros.
#include "vexo-camera/CameraSource.h"
#include <arv.h>

#include "../runtime/RuntimeTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace vexo::core;

namespace {

constexpr int patience = 20000; // ms: an upper bound for a loaded machine, not a duration

// Only the fake interface: discovery would broadcast on every network interface.
std::unique_ptr<CameraSource> openFake(const std::string& pixelFormat, int width = 64, int height = 48)
{
    arv_disable_interface("GigEVision");
    arv_disable_interface("USB3Vision");
    CameraSource::enableFakeCamera();
    return std::unique_ptr<CameraSource>(new CameraSource({"Fake_1", pixelFormat, width, height, 200}));
}

// Tags of the stored frames, in the order the scene stored them (acquisition thread), with
// a 0 where a later run starts: GigE Vision block ids skip 0 when they wrap.
struct TagLog
{
    std::mutex mutex; // guards tags
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

} // namespace

class TestCameraSource : public QObject
{
    Q_OBJECT

private slots:
    void listAndOpen()
    {
        auto camera = openFake("Mono8", 100, 30);
        const auto cameras = CameraSource::listCameras();
        QVERIFY(std::any_of(cameras.begin(), cameras.end(),
                            [](const CameraSource::Camera& c) { return c.id == "Fake_1" && c.protocol == "Fake"; }));
        QVERIFY2(camera->isUsable(), camera->lastError().c_str());
        // A format the camera does not offer is refused and the old one, as opened, stays.
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
        // A camera set to a format we cannot show is refused with its name, and cannot start.
        QTemporaryDir dir;
        ArvFakeCamera* model = arv_fake_camera_new("xml");
        size_t size = 0;
        QByteArray xml(arv_fake_camera_get_genicam_xml(model, &size));
        g_object_unref(model);
        const QByteArray entry = "<EnumEntry Name=\"Mono8\" NameSpace=\"Standard\">";
        xml.replace(entry, "<EnumEntry Name=\"Mono12Packed\" NameSpace=\"Standard\"><Value>17563654</Value></EnumEntry>\n" + entry);
        QFile file(dir.filePath("camera.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size() && file.flush());
        arv_set_fake_camera_genicam_filename(QFile::encodeName(file.fileName()).constData());
        camera = openFake("Mono12Packed");
        arv_set_fake_camera_genicam_filename(nullptr);
        const std::string error = camera->lastError();
        QVERIFY(!camera->isUsable());
        QVERIFY2(error.find("Mono12Packed") != std::string::npos && error.find("not supported") != std::string::npos, error.c_str());
        QVERIFY(!camera->start());
    }

    void grabModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("pixelFormat");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("runs"); // grabs one after the other on the same opened camera
        QTest::addColumn<bool>("hold"); // a reader holds the ring until far more frames were dropped than it has
        QTest::newRow("sequence Mono8") << 0 << "Mono8" << 8 << 1 << false;
        QTest::newRow("single Mono8, twice") << 1 << "Mono8" << 8 << 2 << false;
        QTest::newRow("infinite Mono8") << -1 << "Mono8" << 8 << 1 << false;
        QTest::newRow("sequence Mono16") << 0 << "Mono16" << 16 << 1 << false;
        // The dropped frames' camera buffers must go back to the stream at once, or the
        // stream runs dry and acquisition stalls.
        QTest::newRow("infinite, drops") << -1 << "Mono8" << 8 << 1 << true;
    }

    void grabModes()
    {
        QFETCH(int, mode);
        QFETCH(QString, pixelFormat);
        QFETCH(int, bits);
        QFETCH(int, runs);
        QFETCH(bool, hold);
        const int ring = 4;
        SceneRig rig(DisplayScene::create(openFake(pixelFormat.toStdString()), ring));
        auto& [scene, visualizer] = rig;
        QCOMPARE(scene->format(), (FrameFormat{64, 48, bits, true}));
        TagLog log(visualizer);
        const auto group = scene->frameBufferGroup();
        std::uint64_t lastRunFrom = 0; // frames acquired before the last run
        for (int run = 0; run < runs; ++run) {
            if (run > 0)
                log.add(0);
            lastRunFrom = scene->statistics().framesAcquired;
            scene->startGrabbing(mode);
            bool locked = false; // taken once: the macro evaluates its condition once more at the end
            if (hold) {
                QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 3, patience);
                QTRY_VERIFY_WITH_TIMEOUT(locked = locked || group->try_readlock(), patience);
                QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesDropped >= std::uint64_t(3 * ring), patience);
                group->unlock();
            }
            const std::uint64_t acquired = scene->statistics().framesAcquired;
            if (mode < 0) {
                QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= acquired + 3 * ring, patience);
                scene->stopGrabbing();
            }
            QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), patience);
            // Still there, but with no frames coming there is no clock.
            QVERIFY(scene->source().status().connected && !scene->source().status().clock);
        }
        const auto statistics = scene->statistics();
        QVERIFY(mode < 0 || statistics.framesAcquired == std::uint64_t(mode == 0 ? ring : runs));
        // Frame ids rise; every id skipped within a run is a frame counted as dropped or lost.
        // No loss count is asserted on drops: the stream holds only ring-many buffers, so a
        // loaded, sanitized run can lose a frame to scheduling alone.
        QCOMPARE(visualizer.count("buffer"), int(statistics.framesAcquired));
        const std::uint64_t skipped = log.skipped(!hold);
        QVERIFY(skipped <= statistics.framesDropped + scene->source().status().framesLost);
        QVERIFY(!hold || (skipped >= std::uint64_t(3 * ring) && visualizer.count("status", true) > 0)); // an overflow shown
        // Every frame the last run stored is the camera's pattern for its frame id, with its metadata.
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
            // The fake camera's diagonal ramp: (x + y + frame id) mod 255, in the top byte for Mono16.
            std::vector<std::uint16_t> stored = samplesOf(*buffer), sent(64 * 48);
            for (std::size_t i = 0; i < sent.size(); ++i)
                sent[i] = std::uint16_t(((i % 64 + i / 64 + buffer->tag()) % 255) << (bits - 8));
            for (auto& v : stored)
                v &= std::uint16_t(0xff << (bits - 8)); // Mono16 carries the ramp in its top byte
            QCOMPARE(stored, sent);
        }
    }
};

QTEST_GUILESS_MAIN(TestCameraSource)
#include "tst_camera_source.moc"
