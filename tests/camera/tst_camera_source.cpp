// The camera source against the camera library's in-process fake camera: every grab mode
// through a scene, pixels against the fake camera's pattern, frame ids against drops,
// stop and reopen, and formats that must be refused. Only the fake interface is enabled,
// so nothing goes onto a network.

#include "../runtime/RecordingVisualizer.h"

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <arv.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <mutex>

using namespace vexo::core;

namespace {

const char* const fakeId = "Fake_1";

std::unique_ptr<CameraSource> openFake(const std::string& pixelFormat, int width = 64, int height = 48)
{
    CameraSource::Settings settings;
    settings.id = fakeId;
    settings.pixelFormat = pixelFormat;
    settings.width = width;
    settings.height = height;
    settings.framesPerSecond = 200;
    return std::unique_ptr<CameraSource>(new CameraSource(settings));
}

// The fake camera's diagonal ramp: (x + y + frame id) mod 255, in the top byte for Mono16.
int ramp(int x, int y, std::uint32_t frameId)
{
    return int((std::uint64_t(x) + std::uint64_t(y) + frameId) % 255);
}

// Frames from one id to the next. GigE Vision block ids are 16 bits wide and skip 0 when
// they wrap (the fake camera starts at 65401 to show it): 65535 is followed by 1.
std::uint64_t idStep(std::uint32_t previous, std::uint32_t next)
{
    return next > previous ? next - previous : (65535 - previous) + next;
}

// Tags of the stored frames, in the order the scene stored them (acquisition thread).
struct TagLog
{
    std::mutex mutex;
    std::vector<std::uint32_t> tags;
    void attach(RecordingVisualizer& v)
    {
        v.onBuffer = [this](const boost::shared_ptr<FrameBuffer>& b) {
            std::lock_guard<std::mutex> lock(mutex);
            tags.push_back(b->tag());
        };
    }
    std::vector<std::uint32_t> copy()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return tags;
    }
};

void waitUntilIdle(const boost::shared_ptr<DisplayScene>& scene)
{
    QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 20000);
}

} // namespace

class TestCameraSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listAndOpen();
    void grabModes_data();
    void grabModes();
    void dropsGiveBuffersBack();
    void stopAndReopen();
    void bayerPhasesMatchTheCamera();
    void unsupportedFormatIsRefused();
};

void TestCameraSource::initTestCase()
{
    // Discovery would broadcast on every network interface; the fake needs none.
    arv_disable_interface("GigEVision");
    arv_disable_interface("USB3Vision");
    CameraSource::enableFakeCamera();
}

void TestCameraSource::listAndOpen()
{
    const auto cameras = CameraSource::listCameras();
    QVERIFY(std::any_of(cameras.begin(), cameras.end(), [](const CameraSource::Camera& c) {
        return c.id == fakeId && c.protocol == "Fake";
    }));

    auto camera = openFake("Mono8", 100, 30);
    QVERIFY2(camera->isUsable(), camera->lastError().c_str());
    QCOMPARE(camera->format(), (FrameFormat{100, 30, 8, true}));
    QCOMPARE(camera->pixelFormatName(), std::string("Mono8"));
    const FrameSource::Status idle = camera->status();
    QVERIFY(idle.connected);
    QVERIFY(!idle.clock);

    CameraSource::Settings missing;
    missing.id = "NoSuchCamera";
    CameraSource absent(missing);
    QVERIFY(!absent.isUsable());
    QVERIFY(absent.lastError().find("NoSuchCamera") != std::string::npos);
    QVERIFY(!absent.status().connected);
    // Starting what is not there is refused, and says why.
    QVERIFY(!absent.start());
    QVERIFY2(absent.problem().find("NoSuchCamera") != std::string::npos, absent.problem().c_str());
    QCOMPARE(absent.waitForFrame(), FrameSource::Delivery::Failed);

    // A format the camera does not offer is refused and the old one stays.
    QVERIFY(!camera->setFormat(FrameFormat{100, 30, 12, true}));
    QCOMPARE(camera->format(), (FrameFormat{100, 30, 8, true}));
    QVERIFY(camera->setFormat(FrameFormat{80, 20, 16, true}));
    QCOMPARE(camera->pixelFormatName(), std::string("Mono16"));
}

void TestCameraSource::grabModes_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("pixelFormat");
    QTest::addColumn<int>("bits");
    QTest::newRow("sequence Mono8") << 0 << "Mono8" << 8;
    QTest::newRow("single Mono8") << 1 << "Mono8" << 8;
    QTest::newRow("infinite Mono8") << -1 << "Mono8" << 8;
    QTest::newRow("sequence Mono16") << 0 << "Mono16" << 16;
    QTest::newRow("infinite Mono16") << -1 << "Mono16" << 16;
}

void TestCameraSource::grabModes()
{
    QFETCH(int, mode);
    QFETCH(QString, pixelFormat);
    QFETCH(int, bits);
    const int ring = 4;
    auto scene = DisplayScene::create(openFake(pixelFormat.toStdString()), ring);
    QCOMPARE(scene->format(), (FrameFormat{64, 48, bits, true}));
    RecordingVisualizer visualizer;
    TagLog log;
    log.attach(visualizer);
    scene->attachVisualizer(&visualizer);

    scene->startGrabbing(mode);
    if (mode < 0) {
        // Past the fake camera's id wrap (its ids start at 65401).
        QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 150, 30000);
        scene->stopGrabbing();
    }
    waitUntilIdle(scene);
    const auto statistics = scene->statistics();
    const std::uint64_t lost = scene->source().status().framesLost;
    if (mode >= 0)
        QCOMPARE(statistics.framesAcquired, std::uint64_t(mode == 0 ? ring : 1));

    // Frame ids rise (through the wrap); every id skipped is a frame counted as dropped
    // or lost.
    const std::vector<std::uint32_t> tags = log.copy();
    QCOMPARE(tags.size(), std::size_t(statistics.framesAcquired));
    std::uint64_t skipped = 0;
    for (std::size_t i = 1; i < tags.size(); ++i) {
        QVERIFY(idStep(tags[i - 1], tags[i]) >= 1 && idStep(tags[i - 1], tags[i]) < 1000);
        skipped += idStep(tags[i - 1], tags[i]) - 1;
    }
    QVERIFY(skipped <= statistics.framesDropped + lost);

    // Every stored frame is the camera's pattern for its frame id, with its metadata.
    const auto group = scene->frameBufferGroup();
    QCOMPARE(group->size(), std::min<int>(ring, int(statistics.framesAcquired)));
    std::uint64_t previousTime = 0;
    for (std::int64_t k = group->frameCounter() - group->size(); k < group->frameCounter(); ++k) {
        const auto buffer = group->buffer(k);
        QVERIFY(buffer);
        QCOMPARE(buffer->transferLength(), std::uint64_t(64 * 48 * bits / 8));
        QVERIFY(buffer->timestamp() > previousTime);
        previousTime = buffer->timestamp();
        int x = -1, y = -1;
        buffer->lastValidPixel(&x, &y);
        QCOMPARE(x, 63);
        QCOMPARE(y, 47);
        for (int py = 0; py < 48; ++py)
            for (int px = 0; px < 64; ++px) {
                std::uint64_t v = 0;
                QVERIFY(buffer->getPixelValueGray(px, py, &v));
                const int expected = ramp(px, py, buffer->tag());
                if ((bits == 8 ? int(v) : int(v >> 8)) != expected)
                    QFAIL(qPrintable(QString("frame %1 pixel (%2,%3) is %4, the camera sent %5")
                                         .arg(buffer->tag()).arg(px).arg(py).arg(v).arg(expected)));
            }
    }
    scene->detachVisualizer(&visualizer);
}

// A reader holding the ring makes the scene drop frames; their camera buffers must go
// back to the stream at once, or the stream runs dry and acquisition stalls.
void TestCameraSource::dropsGiveBuffersBack()
{
    const int ring = 4;
    auto scene = DisplayScene::create(openFake("Mono8"), ring);
    RecordingVisualizer visualizer;
    TagLog log;
    log.attach(visualizer);
    scene->attachVisualizer(&visualizer);
    scene->startGrabbing(-1);
    QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= 3, 20000);

    const auto group = scene->frameBufferGroup();
    bool locked = false; // taken once: the macro evaluates its condition once more at the end
    QTRY_VERIFY_WITH_TIMEOUT(locked = locked || group->try_readlock(), 5000);
    // Far more drops than the stream has buffers.
    QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesDropped >= std::uint64_t(3 * ring), 20000);
    group->unlock();
    const std::uint64_t acquiredAfterDrops = scene->statistics().framesAcquired;
    QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= acquiredAfterDrops + 5, 20000);
    scene->stopGrabbing();
    waitUntilIdle(scene);

    const auto statistics = scene->statistics();
    QCOMPARE(scene->source().status().framesLost, std::uint64_t(0));
    const std::vector<std::uint32_t> tags = log.copy();
    std::uint64_t skipped = 0;
    for (std::size_t i = 1; i < tags.size(); ++i)
        skipped += idStep(tags[i - 1], tags[i]) - 1;
    // Frames dropped after the last stored one leave no gap behind.
    QVERIFY(skipped >= std::uint64_t(3 * ring));
    QVERIFY(skipped <= statistics.framesDropped);
    const auto calls = visualizer.calls();
    QVERIFY(std::any_of(calls.begin(), calls.end(),
                        [](const RecordingVisualizer::Call& c) { return c.name == "status" && c.flag; }));
    scene->detachVisualizer(&visualizer);
}

void TestCameraSource::stopAndReopen()
{
    std::uint32_t lastTag = 0;
    for (int opening = 0; opening < 2; ++opening) {
        auto scene = DisplayScene::create(openFake("Mono8"), 4);
        for (int run = 0; run < 3; ++run) {
            scene->startGrabbing(1);
            waitUntilIdle(scene);
            const auto group = scene->frameBufferGroup();
            QCOMPARE(group->size(), 1);
            const auto buffer = group->buffer(group->frameCounter() - 1);
            std::uint64_t v = 0;
            QVERIFY(buffer->getPixelValueGray(5, 7, &v));
            QCOMPARE(int(v), ramp(5, 7, buffer->tag()));
            if (opening == 0 && run > 0)
                QVERIFY(idStep(lastTag, buffer->tag()) >= 1 && idStep(lastTag, buffer->tag()) < 1000);
            lastTag = buffer->tag();
            QVERIFY(scene->source().status().connected);
            QVERIFY(!scene->source().status().clock);
        }
    }
}

// The fake camera paints colour as a function of x + y + frame id. Its RGB8 frame gives
// that function; in every Bayer frame each site must hold the colour the camera painted
// there. The fake camera paints BayerGR8 and BayerGB8 as the format names them, but
// BayerRG8 and BayerBG8 with red and blue exchanged (seen against its own RGB8 image), so
// its layouts are listed here; our converter follows the format names, which real cameras
// do, and the sites it reads as red, green and blue must carry exactly the painted values.
void TestCameraSource::bayerPhasesMatchTheCamera()
{
    std::map<std::uint64_t, std::array<int, 3>> colourAt;
    {
        auto scene = DisplayScene::create(openFake("RGB8"), 2);
        scene->startGrabbing(1);
        waitUntilIdle(scene);
        const auto group = scene->frameBufferGroup();
        const auto buffer = group->buffer(group->frameCounter() - 1);
        QVERIFY(buffer && !buffer->isGray());
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                std::uint64_t r = 0, g = 0, b = 0;
                QVERIFY(buffer->getPixelValueColor(x, y, &r, &g, &b));
                // (r, g, b are set when the read succeeds)
                colourAt[std::uint64_t(x) + y + buffer->tag()] = {int(r), int(g), int(b)};
            }
    }
    struct Phase
    {
        const char* name;
        const char* named;   // the format's layout of the top-left 2 x 2 sites
        const char* painted; // the fake camera's
    };
    const Phase phases[] = {{"BayerRG8", "RGGB", "BGGR"},
                            {"BayerGR8", "GRBG", "GRBG"},
                            {"BayerGB8", "GBRG", "GBRG"},
                            {"BayerBG8", "BGGR", "RGGB"}};
    for (const auto& phase : phases) {
        auto scene = DisplayScene::create(openFake(phase.name), 2);
        QCOMPARE(scene->format(), (FrameFormat{64, 48, 8, false}));
        scene->startGrabbing(1);
        waitUntilIdle(scene);
        const auto group = scene->frameBufferGroup();
        const auto buffer = group->buffer(group->frameCounter() - 1);
        QVERIFY(buffer);
        int compared = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const auto known = colourAt.find(std::uint64_t(x) + y + buffer->tag());
                if (known == colourAt.end())
                    continue;
                const int site = (y & 1) * 2 + (x & 1);
                const int ours = QString("RGB").indexOf(QLatin1Char(phase.named[site]));
                const int painted = QString("RGB").indexOf(QLatin1Char(phase.painted[site]));
                std::uint64_t rgb[3] = {0, 0, 0};
                QVERIFY(buffer->getPixelValueColor(x, y, &rgb[0], &rgb[1], &rgb[2]));
                if (int(rgb[ours]) != known->second[painted])
                    QFAIL(qPrintable(QString("%1: site (%2,%3) colour %4 is %5, the camera painted %6")
                                         .arg(phase.name).arg(x).arg(y).arg(ours).arg(rgb[ours])
                                         .arg(known->second[painted])));
                ++compared;
            }
        QVERIFY2(compared > 64 * 48 / 2, phase.name);
    }
}

// A camera set to a format we cannot show is refused with its name, and a scene over it
// never shows a frame.
void TestCameraSource::unsupportedFormatIsRefused()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    ArvFakeCamera* model = arv_fake_camera_new("xml");
    size_t size = 0;
    QByteArray xml(arv_fake_camera_get_genicam_xml(model, &size));
    g_object_unref(model);
    const QByteArray entry = "<EnumEntry Name=\"Mono8\" NameSpace=\"Standard\">";
    QVERIFY(xml.contains(entry));
    xml.replace(entry, "<EnumEntry Name=\"Mono12Packed\" NameSpace=\"Standard\"><Value>17563654</Value></EnumEntry>\n"
                           + entry);
    const QString path = dir.filePath("camera.xml");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(xml);
    file.close();
    arv_set_fake_camera_genicam_filename(QFile::encodeName(path).constData());

    auto camera = openFake("Mono12Packed");
    arv_set_fake_camera_genicam_filename(nullptr);
    QVERIFY(!camera->isUsable());
    const std::string error = camera->lastError();
    QVERIFY2(error.find("Mono12Packed") != std::string::npos && error.find("not supported") != std::string::npos,
             error.c_str());
    auto scene = DisplayScene::create(std::move(camera), 2);
    scene->startGrabbing(-1);
    waitUntilIdle(scene);
    QCOMPARE(scene->statistics().framesAcquired, std::uint64_t(0));
    QCOMPARE(scene->frameBufferGroup()->size(), 0);
}

QTEST_GUILESS_MAIN(TestCameraSource)
#include "tst_camera_source.moc"
