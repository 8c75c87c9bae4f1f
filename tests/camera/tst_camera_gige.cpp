// The camera source over GigE Vision, end to end: the camera library's fake GigE Vision
// camera runs as a process of its own on the loopback interface, the viewer grabs from it
// headless, and the camera is killed while frames arrive. Every process is started and
// ended here by its process id; all traffic goes to 127.0.0.1.

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <arv.h>

#include "../viewer/ViewerReport.h"

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace vexo::core;

namespace {

const QString address = QStringLiteral("127.0.0.1");

// True once a socket is bound to the GigE Vision control port (3956) on 127.0.0.1.
bool controlPortBound()
{
    QFile udp(QStringLiteral("/proc/net/udp"));
    return udp.open(QIODevice::ReadOnly) && udp.readAll().contains("0100007F:0F74");
}

} // namespace

class TestCameraGige : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { killCamera(); }
    void viewerShowsTheCamerasPattern();
    void viewerSurvivesTheCameraGoing();
    void sourceReopensAfterTheCameraReturns();
    void viewerRefusesACameraLeftAtAHugeSize();

private:
    void startCamera();
    void killCamera();
    // The headless viewer on the camera, its configuration in dir; with frames > 0 it
    // grabs 320 x 240 at 50 fps and writes its screenshot and report into dir.
    static void startViewer(QProcess& viewer, const QTemporaryDir& dir, int frames);

    QString fakeCamera;
    QProcess camera;
};

void TestCameraGige::initTestCase()
{
    fakeCamera = QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8"));
    if (fakeCamera.isEmpty())
        QSKIP("arv-fake-gv-camera-0.8 is not installed (Debian package aravis-tools)");
    QVERIFY2(!controlPortBound(), "another GigE Vision camera already listens on 127.0.0.1");
}

void TestCameraGige::startCamera()
{
    camera.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    camera.start(fakeCamera, {QStringLiteral("-i"), address});
    QVERIFY(camera.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(controlPortBound(), 10000);
}

void TestCameraGige::killCamera()
{
    if (camera.state() == QProcess::NotRunning)
        return;
    camera.kill(); // SIGKILL to its process id: gone as a pulled cable is
    QVERIFY(camera.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!controlPortBound(), 10000);
}

void TestCameraGige::startViewer(QProcess& viewer, const QTemporaryDir& dir, int frames)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    viewer.setProcessEnvironment(env);
    QStringList arguments{"--source", "camera:" + address, "--config", dir.filePath("viewer.ini")};
    if (frames > 0)
        arguments << "--width" << "320" << "--height" << "240" << "--fps" << "50" << "--grab-frames"
                  << QString::number(frames) << "--screenshot" << dir.filePath("shot.png") << "--report"
                  << dir.filePath("report.txt");
    else
        arguments << "--grab-frames" << "3";
    viewer.start(QStringLiteral(VEXO_VIEWER), arguments);
}

void TestCameraGige::viewerShowsTheCamerasPattern()
{
    startCamera();
    QTemporaryDir dir;
    QProcess viewer;
    viewer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    startViewer(viewer, dir, 20);
    QVERIFY(viewer.waitForFinished(60000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 0);

    const auto report = readReport(dir.filePath("report.txt"));
    QCOMPARE(report.value("sourceConnected"), QStringLiteral("1"));
    QVERIFY(report.value("framesAcquired").toInt() >= 20);
    QVERIFY2(report.value("acquisition").contains("Acquisition FPS"), qPrintable(report.value("acquisition")));
    const std::uint32_t frameId = report.value("tag").toUInt();
    QVERIFY(frameId > 0);
    const QStringList canvas = report.value("canvas").split(',');
    QCOMPARE(canvas.size(), 4);
    const QPoint origin(canvas[0].toInt(), canvas[1].toInt());
    const QImage shot(dir.filePath("shot.png"));
    QVERIFY(!shot.isNull());
    // Shown at 1:1 from the top left: the camera's ramp (x + y + frame id) mod 255.
    int checked = 0;
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 11) {
            if (x >= canvas[2].toInt() || y >= canvas[3].toInt())
                continue;
            const int v = int((std::uint64_t(x) + y + frameId) % 255);
            QCOMPARE(shot.pixel(origin + QPoint(x, y)), qRgb(v, v, v));
            ++checked;
        }
    QVERIFY(checked > 500);
}

void TestCameraGige::viewerSurvivesTheCameraGoing()
{
    startCamera();
    QTemporaryDir dir;
    QProcess viewer;
    startViewer(viewer, dir, 1000000);
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += viewer.readAllStandardOutput()).contains("frames shown")
                                 || viewer.state() == QProcess::NotRunning,
                             30000);
    QCOMPARE(viewer.state(), QProcess::Running);
    killCamera();

    // The camera's heartbeat goes unanswered; the run ends and the window says so.
    const bool finished = viewer.waitForFinished(60000);
    if (!finished)
        viewer.kill();
    QVERIFY(finished);
    const QByteArray errors = viewer.readAllStandardError();
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    // Fewer frames than asked for: the run failed, and says so in its status too.
    QVERIFY2(viewer.exitCode() == 4, errors.constData());
    QVERIFY2(errors.contains("the source is gone"), errors.constData());
    // Declared gone by the source's own probe of the quiet camera, not by the camera
    // library's much slower heartbeat.
    QVERIFY2(errors.contains("the source is gone: the camera 127.0.0.1 was lost: it does not answer"),
             errors.constData());
    QVERIFY2(errors.contains("camera clock off"), errors.constData());
    // The silence is told of as soon as the frames stop, before the heartbeat gives the
    // camera up.
    const int silence = errors.indexOf("vexo-display-viewer: no frames from camera 127.0.0.1 for ");
    QVERIFY2(silence >= 0 && silence < errors.indexOf("the source is gone"), errors.constData());
    const auto report = readReport(dir.filePath("report.txt"));
    QCOMPARE(report.value("sourceConnected"), QStringLiteral("0"));
    QCOMPARE(report.value("clockOn"), QStringLiteral("0"));
    QVERIFY(report.value("framesAcquired").toInt() > 0);
    QVERIFY(!QImage(dir.filePath("shot.png")).isNull());
}

void TestCameraGige::sourceReopensAfterTheCameraReturns()
{
    startCamera();
    CameraSource::Settings settings;
    settings.id = address.toStdString();
    settings.width = 160;
    settings.height = 120;
    settings.framesPerSecond = 100;
    std::unique_ptr<CameraSource> source(new CameraSource(settings));
    QVERIFY2(source->isUsable(), source->lastError().c_str());
    CameraSource* camera = source.get();
    auto scene = DisplayScene::create(std::move(source), 4);
    {
        // The camera gives up a host that stops beating within 2 s, so a camera that lost
        // sight of us is reported lost at Aravis's next heartbeat (read as a second host may).
        GError* e = nullptr;
        ArvCamera* observer = arv_camera_new(address.toUtf8().constData(), &e);
        QVERIFY2(observer, e ? e->message : "");
        guint32 timeout = 0;
        arv_device_read_register(arv_camera_get_device(observer), 0x0938, &timeout, &e);
        g_object_unref(observer);
        QVERIFY2(!e, e ? e->message : "");
        QVERIFY2(timeout > 0 && timeout <= 2000, qPrintable(QString::number(timeout)));
    }

    for (int life = 0; life < 2; ++life) {
        const std::uint64_t before = scene->statistics().framesAcquired;
        scene->startGrabbing(-1);
        QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= before + 5, 20000);
        QVERIFY(camera->status().connected);
        QVERIFY(camera->status().clock);
        const auto group = scene->frameBufferGroup();
        const auto newest = group->buffer(group->frameCounter() - 1);
        std::uint64_t v = 0;
        QVERIFY(newest->getPixelValueGray(3, 4, &v));
        QCOMPARE(int(v), int((7 + std::uint64_t(newest->tag())) % 255));

        killCamera();
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 30000);
        QVERIFY(!camera->status().connected);
        QVERIFY(!camera->status().clock);
        QVERIFY(camera->lastError().find("lost") != std::string::npos);
        if (life == 1)
            break; // lost twice: the camera let go first is waited for as the second goes
        // Grabbing while the camera is away is refused, says why, and keeps the frames.
        const std::int64_t stored = group->frameCounter();
        scene->startGrabbing(-1);
        QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 30000);
        QVERIFY(!camera->status().connected);
        QVERIFY2(scene->grabError().find(address.toStdString()) != std::string::npos, scene->grabError().c_str());
        QCOMPARE(group->frameCounter(), stored);
        startCamera();
    }
}

void TestCameraGige::viewerRefusesACameraLeftAtAHugeSize()
{
    startCamera();
    {
        // An earlier host left the camera so; this viewer asks for no size of its own.
        GError* e = nullptr;
        ArvCamera* earlier = arv_camera_new(address.toUtf8().constData(), &e);
        QVERIFY2(earlier, e ? e->message : "");
        arv_camera_set_region(earlier, 0, 0, 99999, 99999, &e);
        g_object_unref(earlier);
        QVERIFY2(!e, e ? e->message : "");
    }
    QTemporaryDir dir;
    QProcess viewer;
    startViewer(viewer, dir, 0);
    QVERIFY(viewer.waitForFinished(60000));
    const QByteArray errors = viewer.readAllStandardError();
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QVERIFY2(viewer.exitCode() == 2, errors.constData());
    // Weighed as the sizes asked for on the command line are, before any window is made.
    QVERIFY2(errors.contains("not enough memory for the frame buffers: 1 channel x 16 buffers x 18.6 GiB = "),
             errors.constData());
}

QTEST_GUILESS_MAIN(TestCameraGige)
#include "tst_camera_gige.moc"
