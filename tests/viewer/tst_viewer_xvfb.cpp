// The viewer under a real X server: grab, open both tool windows, save a frame, close, and
// check what was on the screen against the simulator's pattern.

#include "ViewerReport.h"

#include "vexo-lib-display/SimulatorSource.h"

#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using vexo::core::SimulatorSource;

class TestViewerXvfb : public QObject
{
    Q_OBJECT

private slots:
    void grabToolsSaveClose()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed (Debian package xvfb)");
        // -displayfd 1: the server picks a free display and prints its number when it is ready.
        QProcess server;
        server.start(xvfb, {"-displayfd", "1", "-screen", "0", "1600x1200x24", "-nolisten", "tcp"});
        const auto stopServer = qScopeGuard([&server] { server.terminate(), server.waitForFinished(10000); });
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 30000);
        const QString number = QString::fromLatin1(server.readLine()).trimmed();
        QVERIFY2(!number.isEmpty(), "Xvfb did not report a display");

        QTemporaryDir dir;
        const QStringList arguments{"DISPLAY=:" + number, "QT_QPA_PLATFORM=xcb", "--width", "640", "--height", "480",
                                    "--bits", "12", "--fps", "100", "--grab-frames", "20", "--tools", "--screenshot",
                                    dir.filePath("shot.png"), "--save-frame", dir.filePath("frame.tif"), "--report",
                                    dir.filePath("report.txt"), "--config", dir.filePath("config.ini")};
        QString errors;
        QVERIFY2(runViewer(arguments, &errors, 180000) == 0, qPrintable(errors));

        const auto report = readReport(dir.filePath("report.txt"));
        // The status bar showed an acquisition rate while grabbing.
        const QString rate = report.value("acquisition");
        QVERIFY2(QRegularExpression("^Acquisition FPS: <b>\\d+\\.\\d\\d</b>$").match(rate).hasMatch(), qPrintable(rate));
        const QStringList canvas = report.value("canvas").split(',');
        QCOMPARE(canvas.size(), 4);
        // The scene renders for the canvas as the layout sized it on this X server.
        QCOMPARE(report.value("sceneCanvas"), canvas.mid(2).join(','));
        // The image area shows the frame's pattern at 1:1 from the top left: the 12-bit value
        // brought to 8 bits, as gray.
        const QImage shot(dir.filePath("shot.png"));
        const SimulatorSource::Settings settings{{640, 480, 12, true}, 100};
        const std::int64_t frameIndex = report.value("frameIndex").toLongLong();
        for (const QPoint p : {QPoint(0, 0), QPoint(13, 7), QPoint(200, 100), QPoint(401, 333), QPoint(639, 10)}) {
            if (p.x() >= canvas[2].toInt() || p.y() >= canvas[3].toInt())
                continue;
            const int v = int(SimulatorSource::patternValue(settings, p.x(), p.y(), frameIndex, 0) >> 4);
            QCOMPARE(shot.pixel(QPoint(canvas[0].toInt(), canvas[1].toInt()) + p), qRgb(v, v, v));
        }
        // Both tool windows drew something: their pictures are not one flat colour.
        for (const char* suffix : {"shot-profile.png", "shot-histogram.png"}) {
            const QImage tool(dir.filePath(suffix));
            QSet<QRgb> colours;
            for (int y = 0; y < tool.height(); y += 3)
                for (int x = 0; x < tool.width(); x += 3)
                    colours.insert(tool.pixel(x, y));
            QVERIFY2(colours.size() > 3, suffix);
        }
        QFile frame(dir.filePath("frame.tif"));
        QCOMPARE(frame.open(QIODevice::ReadOnly) ? frame.read(4) : QByteArray(), QByteArray("II*\0", 4)); // a TIFF file
    }
};

QTEST_GUILESS_MAIN(TestViewerXvfb)
#include "tst_viewer_xvfb.moc"
