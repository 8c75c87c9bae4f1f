// Recording a scene's frames to disk: read back bit-exact, a slow writer that costs
// counted frames and never acquisition, and a full disk that ends it cleanly.

#include "RuntimeTestSupport.h"

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/SceneRecorder.h"

#include <QDir>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

#include <future>

using vexo::core::DisplayScene;
using vexo::core::FileSource;
using vexo::core::FrameBuffer;
using vexo::core::FrameFormat;
using vexo::core::FrameSource;
using vexo::core::SceneRecorder;

namespace {

SceneRecorder::Settings into(const QString& folder, bool bigTiff = false)
{
    SceneRecorder::Settings settings;
    settings.folder = folder.toStdString();
    settings.bigTiff = bigTiff;
    return settings;
}

std::uint16_t sampleOf(int frame, int x, int y, int s, int bits)
{
    return std::uint16_t((x * 31 + y * 7 + frame * 13 + s * 101) & ((1 << bits) - 1));
}

// Pushes frame number `frame` and waits until the scene has stored or dropped it.
bool pushOne(const boost::shared_ptr<DisplayScene>& scene, int frame)
{
    const FrameFormat f = scene->format();
    const auto before = scene->statistics();
    manual(scene).pushFrame([frame, f](FrameBuffer& b) {
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                for (int s = 0; s < b.channels(); ++s)
                    b.line(y)[x * b.channels() + s] = sampleOf(frame, x, y, s, f.bitsPerPixel);
        b.setComplete();
    });
    return QTest::qWaitFor([&] {
        const auto now = scene->statistics();
        return now.framesAcquired + now.framesDropped > before.framesAcquired + before.framesDropped;
    });
}

// The frames a recording holds, as the file source replays them: frame index and whether
// every sample is the one pushed for that index. Empty when the files cannot be read.
QStringList replay(const std::string& path, const FrameFormat& f)
{
    FileSource source({path});
    if (!source.isUsable() || !source.start())
        return {QString::fromStdString("unusable: " + source.lastError())};
    QStringList frames;
    FrameBuffer frame(f.width, f.height, f.bitsPerPixel, f.gray);
    while (source.deliverFrame(&frame, {}) == FrameSource::Delivery::Frame) {
        const int index = int(frame.frameIndex());
        bool exact = true;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                for (int s = 0; s < frame.channels(); ++s)
                    exact = exact && frame.line(y)[x * frame.channels() + s] == sampleOf(index, x, y, s, f.bitsPerPixel);
        frames << QString::number(index) + (exact ? "" : "!");
    }
    return frames;
}

std::string recordingPath(const QString& folder, bool bigTiff)
{
    return QDir(folder).filePath(bigTiff ? "frame.tif" : "frame00000.tif").toStdString();
}

// Holds the writer, on the frames it is passed, until opened.
struct Gate
{
    // Opens the gate when the test ends, also a failed one, so that the scene can go.
    struct Opener
    {
        Gate& gate;
        ~Opener() { gate.release(); }
    };
    std::promise<void> open;
    std::shared_future<void> opened = open.get_future().share();
    std::once_flag once;
    std::atomic<int> waiting{0};
    void pass()
    {
        ++waiting;
        opened.wait();
    }
    void release()
    {
        std::call_once(once, [this] { open.set_value(); });
    }
};

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void recordedRunReadsBack_data()
    {
        QTest::addColumn<bool>("bigTiff");
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("gray");
        for (const bool bigTiff : {false, true}) {
            QTest::addRow("%s, gray 12", bigTiff ? "BigTIFF" : "files") << bigTiff << 12 << true;
            QTest::addRow("%s, colour 8", bigTiff ? "BigTIFF" : "files") << bigTiff << 8 << false;
        }
    }
    void recordedRunReadsBack()
    {
        QFETCH(bool, bigTiff);
        QFETCH(int, bits);
        QFETCH(bool, gray);
        QTemporaryDir dir;
        const FrameFormat f{37, 5, bits, gray};
        SceneRig rig(DisplayScene::create(f, 8));
        const QString folder = dir.filePath("run");
        std::string error;
        SceneRecorder::Settings settings = into(folder, bigTiff);
        settings.frameLimit = 12;
        QVERIFY2(rig.scene->startRecording(settings, &error), error.c_str());
        rig.scene->startGrabbing(-1);
        // The recording ends by itself with its twelfth frame; the scene grabs on.
        for (int i = 0; i < 14; ++i) {
            QVERIFY(pushOne(rig.scene, i));
            QTRY_COMPARE(rig.scene->recorder().status().recorded, std::uint64_t(std::min(i + 1, 12)));
            QCOMPARE(rig.scene->recorder().status().recording, i < 11);
        }
        rig.scene->stopGrabbing();
        rig.scene->recorder().wait();
        const SceneRecorder::Status s = rig.scene->recorder().status();
        QCOMPARE(s.recording, false);
        QCOMPARE(s.writing, false);
        QCOMPARE(s.notWritten, std::uint64_t(0));
        QCOMPARE(s.error, std::string());
        QCOMPARE(s.bytes, std::uint64_t(12) * f.width * f.height * (gray ? 1 : 3) * (bits > 8 ? 2 : 1));

        QStringList expected;
        for (int i = 0; i < 12; ++i)
            expected << QString::number(i);
        QCOMPARE(replay(recordingPath(folder, bigTiff), f), expected);
        // A second recording to the same target is refused: it would overwrite this one.
        QVERIFY(!rig.scene->startRecording(into(folder, bigTiff), &error));
        QVERIFY2(error.find("holds a recording") != std::string::npos, error.c_str());
        // No temporaries are left beside the files.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(".tmp"), QStringList());
    }

    void slowWriterCostsCountedFramesNotAcquisition()
    {
        QTemporaryDir dir;
        const FrameFormat f{16, 4, 16, true};
        Gate gate; // before the scene, whose writer calls it until it goes
        SceneRig rig(DisplayScene::create(f, 8));
        const Gate::Opener opener{gate};
        rig.scene->recorder().setBeforeWrite([&gate](std::int64_t index) {
            if (index == 0)
                gate.pass();
        });
        QVERIFY(rig.scene->startRecording(into(dir.filePath("slow"))));
        rig.scene->startGrabbing(-1);
        // Frame 0 holds the writer; half the ring (4) queues behind it; the next five find
        // the queue full. Acquisition stores every one of them all the same. (A frame
        // counts as stored just before it is offered, hence the waits.)
        QVERIFY(pushOne(rig.scene, 0));
        QTRY_COMPARE(gate.waiting.load(), 1);
        for (int i = 1; i < 10; ++i)
            QVERIFY(pushOne(rig.scene, i));
        QCOMPARE(rig.scene->statistics().framesAcquired, std::uint64_t(10));
        QCOMPARE(rig.scene->statistics().framesDropped, std::uint64_t(0));
        QTRY_COMPARE(rig.scene->recorder().status().notWritten, std::uint64_t(5));
        QCOMPARE(rig.scene->recorder().status().queued, std::uint64_t(4));

        gate.release();
        QTRY_COMPARE(rig.scene->recorder().status().recorded, std::uint64_t(5));
        // A frame the ring has no room for (a reader holds it) is not written either.
        const auto group = rig.scene->frameBufferGroup();
        QVERIFY(group->try_readlock());
        QVERIFY(pushOne(rig.scene, 10));
        group->unlock();
        QCOMPARE(rig.scene->statistics().framesDropped, std::uint64_t(1));
        for (int i = 11; i < 13; ++i) {
            QVERIFY(pushOne(rig.scene, i));
            QTRY_COMPARE(rig.scene->recorder().status().recorded, std::uint64_t(i - 5));
        }
        rig.scene->recorder().stop();
        rig.scene->recorder().wait();
        QCOMPARE(rig.scene->recorder().status().notWritten, std::uint64_t(6));
        // The gaps show in the frame indices the files keep.
        QCOMPARE(replay(recordingPath(dir.filePath("slow"), false), f).join(' '), QString("0 1 2 3 4 11 12"));
    }

    void fullDiskEndsTheRecordingCleanly_data()
    {
        QTest::addColumn<bool>("bigTiff");
        QTest::newRow("files") << false;
        QTest::newRow("BigTIFF") << true;
    }
    void fullDiskEndsTheRecordingCleanly()
    {
        QFETCH(bool, bigTiff);
        if (::geteuid() != 0)
            QSKIP("mounting a small file system takes root");
        QTemporaryDir dir;
        const QString disk = dir.filePath("disk");
        QVERIFY(QDir().mkpath(disk));
        if (::mount("tmpfs", disk.toLocal8Bit().constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("no tmpfs can be mounted here");
        struct Unmount
        {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount{disk.toLocal8Bit()};

        const FrameFormat f{256, 1000, 16, true}; // 500 KiB a frame: one or two fit
        Gate gate; // before the scene, whose writer calls it until it goes
        SceneRig rig(DisplayScene::create(f, 8));
        const Gate::Opener opener{gate};
        rig.scene->recorder().setBeforeWrite([&gate](std::int64_t) { gate.pass(); });
        const QString folder = disk + "/run";
        QVERIFY(rig.scene->startRecording(into(folder, bigTiff)));
        rig.scene->startGrabbing(-1);
        // Four frames wait behind the first when the disk fills up.
        QVERIFY(pushOne(rig.scene, 0));
        QTRY_COMPARE(gate.waiting.load(), 1);
        for (int i = 1; i < 5; ++i)
            QVERIFY(pushOne(rig.scene, i));
        QTRY_COMPARE(rig.scene->recorder().status().queued, std::uint64_t(4));
        gate.release();
        rig.scene->recorder().wait();
        const SceneRecorder::Status s = rig.scene->recorder().status();
        QVERIFY2(s.error.find("No space left") != std::string::npos, s.error.c_str());
        QCOMPARE(s.recording, false);
        QVERIFY(s.recorded >= 1);
        QCOMPARE(s.recorded + s.notWritten, std::uint64_t(5));
        // Acquisition goes on; every frame written reads back whole.
        QVERIFY(pushOne(rig.scene, 5));
        QCOMPARE(rig.scene->statistics().framesAcquired, std::uint64_t(6));
        QStringList expected;
        for (std::uint64_t i = 0; i < s.recorded; ++i)
            expected << QString::number(i);
        QCOMPARE(replay(recordingPath(folder, bigTiff), f), expected);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(".tmp"), QStringList());
        rig.scene->stopGrabbing();
    }
};

QTEST_GUILESS_MAIN(TestRecording)
#include "tst_recording.moc"
