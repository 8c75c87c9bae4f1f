// The viewer under a real X server: grab, open both tool windows, save a frame, close, and
// check what was on the screen against the simulator's pattern.

#include "vexo-lib-display/SimulatorSource.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using vexo::core::SimulatorSource;

class TestViewerXvfb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void grabToolsSaveClose();

private:
    QProcess server;
    QString display;
};

void TestViewerXvfb::initTestCase()
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    if (xvfb.isEmpty())
        QSKIP("Xvfb is not installed (Debian package xvfb)");
    // -displayfd 1: the server picks a free display and prints its number when it is ready.
    server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                        QStringLiteral("0"), QStringLiteral("1600x1200x24"), QStringLiteral("-nolisten"),
                        QStringLiteral("tcp")});
    QVERIFY(server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 30000);
    const QString number = QString::fromLatin1(server.readLine()).trimmed();
    QVERIFY2(!number.isEmpty(), "Xvfb did not report a display");
    display = QStringLiteral(":") + number;
}

void TestViewerXvfb::cleanupTestCase()
{
    if (server.state() == QProcess::Running) {
        server.terminate();
        server.waitForFinished(10000);
    }
}

void TestViewerXvfb::grabToolsSaveClose()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SimulatorSource::Settings settings;
    settings.format = {640, 480, 12, true};
    settings.framesPerSecond = 100;

    QProcess viewer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    viewer.setProcessEnvironment(env);
    viewer.setProcessChannelMode(QProcess::ForwardedChannels);
    viewer.start(QStringLiteral(VEXO_VIEWER),
                 {QStringLiteral("--width"), QStringLiteral("640"), QStringLiteral("--height"), QStringLiteral("480"),
                  QStringLiteral("--bits"), QStringLiteral("12"), QStringLiteral("--fps"), QStringLiteral("100"),
                  QStringLiteral("--grab-frames"), QStringLiteral("20"), QStringLiteral("--tools"),
                  QStringLiteral("--screenshot"), dir.filePath("shot.png"),
                  QStringLiteral("--save-frame"), dir.filePath("frame.tif"),
                  QStringLiteral("--report"), dir.filePath("report.txt"),
                  QStringLiteral("--config"), dir.filePath("config.ini")});
    QVERIFY(viewer.waitForFinished(180000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 0);

    QFile reportFile(dir.filePath("report.txt"));
    QVERIFY(reportFile.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> report;
    for (const QByteArray& line : reportFile.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            report.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    // The status bar showed an acquisition rate while grabbing.
    QVERIFY2(QRegularExpression(QStringLiteral("^Acquisition FPS: <b>\\d+\\.\\d\\d</b>$"))
                 .match(report.value("acquisition")).hasMatch(),
             qPrintable(report.value("acquisition")));
    const std::int64_t frameIndex = report.value("frameIndex").toLongLong();
    const QStringList canvas = report.value("canvas").split(',');
    QCOMPARE(canvas.size(), 4);
    const QPoint origin(canvas[0].toInt(), canvas[1].toInt());
    // The scene renders for the canvas as the layout sized it on this X server.
    QCOMPARE(report.value("sceneCanvas"), canvas[2] + "," + canvas[3]);

    // The image area shows the pattern of the frame on screen (1:1, no offset): the
    // 12-bit value brought to 8 bits, as gray.
    const QImage shot(dir.filePath("shot.png"));
    QVERIFY(!shot.isNull());
    for (const QPoint p : {QPoint(0, 0), QPoint(13, 7), QPoint(200, 100), QPoint(401, 333), QPoint(639, 10)}) {
        if (p.x() >= canvas[2].toInt() || p.y() >= canvas[3].toInt())
            continue;
        const int v = int(SimulatorSource::patternValue(settings, p.x(), p.y(), frameIndex, 0) >> 4);
        QCOMPARE(shot.pixel(origin + p), qRgb(v, v, v));
    }

    // Both tool windows drew something: their pictures are not one flat colour.
    for (const char* suffix : {"shot-profile.png", "shot-histogram.png"}) {
        const QImage tool(dir.filePath(suffix));
        QVERIFY2(!tool.isNull(), suffix);
        QSet<QRgb> colours;
        for (int y = 0; y < tool.height(); y += 3)
            for (int x = 0; x < tool.width(); x += 3)
                colours.insert(tool.pixel(x, y));
        QVERIFY2(colours.size() > 3, suffix);
    }

    // The saved frame is a TIFF file.
    QFile frame(dir.filePath("frame.tif"));
    QVERIFY(frame.open(QIODevice::ReadOnly));
    QCOMPARE(frame.read(4), QByteArray("II*\0", 4));
}

QTEST_GUILESS_MAIN(TestViewerXvfb)
#include "tst_viewer_xvfb.moc"
