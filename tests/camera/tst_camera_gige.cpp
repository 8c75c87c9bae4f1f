// The camera source over GigE Vision, end to end: the camera library's fake GigE Vision
// camera runs as a process of its own on the loopback interface, the viewer grabs from it
// headless, and the camera is killed while frames arrive. Every process is started and
// ended here by its process id; all traffic goes to 127.0.0.1.

#include "vexo-camera/CameraSource.h"
#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include "../viewer/ViewerReport.h"

#include <QImage>
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

    QString fakeCamera;
    QProcess camera;

    void startCamera()
    {
        camera.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        camera.start(fakeCamera, {QStringLiteral("-i"), address});
        QVERIFY(camera.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(controlPortBound(), 10000);
    }
    void killCamera()
    {
        if (camera.state() == QProcess::NotRunning)
            return;
        camera.kill(); // SIGKILL to its process id: gone as a pulled cable is
        QVERIFY(camera.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(!controlPortBound(), 10000);
    }

private slots:
    void initTestCase()
    {
        fakeCamera = QStandardPaths::findExecutable(QStringLiteral("arv-fake-gv-camera-0.8"));
        if (fakeCamera.isEmpty())
            QSKIP("arv-fake-gv-camera-0.8 is not installed (Debian package aravis-tools)");
        QVERIFY2(!controlPortBound(), "another GigE Vision camera already listens on 127.0.0.1");
    }
    void init() { startCamera(); }
    void cleanup() { killCamera(); }

    void viewerShowsTheCameraAndSurvivesItsGoing()
    {
        QTemporaryDir dir;
        QString errors;
        // The camera's heartbeat goes unanswered; the run ends with fewer frames than asked
        // for, and says so in its status too.
        const int status = runViewer({"QT_QPA_PLATFORM=offscreen", "--source", "camera:" + address, "--config",
                                      dir.filePath("viewer.ini"), "--grab-frames", "1000000", "--width", "320",
                                      "--height", "240", "--fps", "50", "--screenshot", dir.filePath("shot.png"),
                                      "--report", dir.filePath("report.txt")},
                                     &errors, [this](QProcess&) { killCamera(); });
        QVERIFY2(status == 4, qPrintable(errors));
        // Declared gone by the source's own probe of the quiet camera, not by the camera
        // library's much slower heartbeat; the silence is told of as soon as the frames stop.
        const int gone = errors.indexOf("the source is gone: the camera 127.0.0.1 was lost: it does not answer");
        const int silence = errors.indexOf("vexo-display-viewer: no frames from camera 127.0.0.1 for ");
        QVERIFY2(silence >= 0 && silence < gone && errors.contains("camera clock off"), qPrintable(errors));
        const auto report = readReport(dir.filePath("report.txt"));
        QCOMPARE(report.value("sourceConnected") + report.value("clockOn"), QStringLiteral("00"));
        // The last frame stays on the screen, at 1:1 from the top left: the camera's ramp
        // (x + y + frame id) mod 255.
        const std::uint32_t frameId = report.value("tag").toUInt();
        const QStringList canvas = report.value("canvas").split(',');
        QVERIFY(frameId > 0 && canvas.size() == 4);
        const QImage shot(dir.filePath("shot.png"));
        int checked = 0;
        for (int y = 0; y < std::min(240, canvas[3].toInt()); y += 7)
            for (int x = 0; x < std::min(320, canvas[2].toInt()); x += 11, ++checked) {
                const int v = int((std::uint64_t(x) + y + frameId) % 255);
                QCOMPARE(shot.pixel(QPoint(canvas[0].toInt() + x, canvas[1].toInt() + y)), qRgb(v, v, v));
            }
        QVERIFY(checked > 500);
    }

    void sourceReopensAfterTheCameraReturns()
    {
        auto* camera = new CameraSource({address.toStdString(), "", 160, 120, 100});
        auto scene = DisplayScene::create(std::unique_ptr<FrameSource>(camera), 4);
        QVERIFY2(camera->isUsable(), camera->lastError().c_str());
        const auto group = scene->frameBufferGroup();
        for (int life = 0; life < 2; ++life) {
            const std::uint64_t before = scene->statistics().framesAcquired;
            scene->startGrabbing(-1);
            QTRY_VERIFY_WITH_TIMEOUT(scene->statistics().framesAcquired >= before + 5, 20000);
            QVERIFY(camera->status().connected && camera->status().clock);
            const auto newest = group->buffer(group->frameCounter() - 1);
            QCOMPARE(int(newest->line(4)[3]), int((7 + std::uint64_t(newest->tag())) % 255));
            killCamera();
            QTRY_VERIFY_WITH_TIMEOUT(!scene->isGrabbing(), 30000);
            QVERIFY(!camera->status().connected && !camera->status().clock && camera->lastError().find("lost") != std::string::npos);
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
};

QTEST_GUILESS_MAIN(TestCameraGige)
#include "tst_camera_gige.moc"
