// The viewer run as scripts run it: what it refuses, what it prints and its exit status;
// and once under a real X server, checked against the simulator's pattern.

#include "ViewerReport.h"

#include "vexo-lib-display/FileSource.h"
#include "vexo-lib-display/SimulatorSource.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

using vexo::core::SimulatorSource;

// What the run under an X server left: the rate while grabbing, the scene rendering for the
// canvas as laid out there, the frame's pattern at 1:1 from the top left (the 12-bit value
// brought to 8 bits, as gray), both tool windows drawn, not one flat colour, and the frame
// saved (its contents are the TIFF writer's test).
static void checkScreen(const QDir& dir, const QMap<QString, QString>& report)
{
    const QString rate = report.value("acquisition");
    QVERIFY2(QRegularExpression("^Acquisition FPS: <b>\\d+\\.\\d\\d</b>$").match(rate).hasMatch(), qPrintable(rate));
    const QStringList canvas = report.value("canvas").split(',');
    QCOMPARE(canvas.size(), 4);
    QCOMPARE(report.value("sceneCanvas"), canvas.mid(2).join(','));
    const QImage shot(dir.filePath("shot.png"));
    const SimulatorSource::Settings settings{{640, 480, 12, true}, 100};
    const std::int64_t frameIndex = report.value("frameIndex").toLongLong();
    for (const QPoint p : {QPoint(0, 0), QPoint(13, 7), QPoint(200, 100), QPoint(401, 333), QPoint(639, 10)}) {
        if (p.x() >= canvas[2].toInt() || p.y() >= canvas[3].toInt())
            continue;
        const int v = int(SimulatorSource::patternValue(settings, p.x(), p.y(), frameIndex, 0) >> 4);
        QCOMPARE(shot.pixel(QPoint(canvas[0].toInt(), canvas[1].toInt()) + p), qRgb(v, v, v));
    }
    for (const char* name : {"shot-profile.png", "shot-histogram.png"}) {
        const QImage tool(dir.filePath(name));
        QSet<QRgb> colours;
        for (int y = 0; y < tool.height(); y += 3)
            for (int x = 0; x < tool.width(); x += 3)
                colours.insert(tool.pixel(x, y));
        QVERIFY2(colours.size() > 3, name);
    }
    // Complete files, which the search for half-written ones is not to find.
    for (const char* name : {"shot.png", "shot-profile.png", "shot-histogram.png", "frame.tif"})
        QVERIFY(QFile::remove(dir.filePath(name)));
}

class TestViewerHeadless : public QObject
{
    Q_OBJECT

    QTemporaryDir config;

private slots:
    // A configuration of its own, which none of the runs finds fault with.
    void initTestCase() { qputenv("VEXO_CONFIG_FILE", QFile::encodeName(config.filePath("vexo.ini"))); }

    // Split at spaces; leading NAME=value go into the environment, DIR is a fresh folder
    // that holds a folder "folder" and a named pipe "pipe".
    void runs_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("signal");         // sent once frames are shown
        QTest::addColumn<QString>("dispatcher"); // what DIR/lib holds beside the display library: text, or a library
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("told"); // all of it on the standard error; no other warning
        const auto row = [](const char* name, const QString& arguments, int status, const QStringList& told = {},
                            int signal = 0, const QString& dispatcher = {}) {
            QTest::newRow(name) << arguments << signal << dispatcher << status << told;
        };
        const QString tiny = " --width 64 --height 32 --buffers 4 --fps 0 --grab-frames 3";
        const QString huge = "1 channel x 16 buffers x 18.6 GiB = 298.0 GiB, but ";
        const QString small = "--width 64 --height 48 --fps 200 --grab-frames ";
        row("several channels end together", "--dma 2 --boards 2" + tiny, 0);
        // A short ring at full speed drops frames: the window counts exactly what the scene
        // dropped and the source lost, in numbers, not "-".
        row("overflows counted", "--width 256 --height 256 --fps 0 --buffers 3 --grab-frames 40 --report DIR/report.txt", 0);
        row("ring too long", "--buffers 100000", 2, {"1 channel x 100000 buffers x 8 MiB = 781.2 GiB, but "});
        row("channels too many", "--boards 64 --dma 4", 2, {"256 channels x 16 buffers x 8 MiB = 32 GiB, but "});
        row("frame too large", "--width 100000 --height 100000", 2, {huge});
        // 64 x 32 gray takes 4 KiB a buffer: the sum against the override, to the byte.
        row("ring fits to the byte", "VEXO_MEMORY_AVAILABLE=16384" + tiny, 0);
        row("channels one byte short", "VEXO_MEMORY_AVAILABLE=32767 --dma 2" + tiny, 2,
            {"2 channels x 4 buffers x 4 KiB = 32 KiB, but 31.9 KiB are available"});
        // A camera's own size counts as much as one asked for: refused, not thrown. The fake
        // camera is 512 x 512 Mono8 until asked otherwise.
        row("camera at a huge size", "--source camera:Fake_1 --fake-camera --width 99999 --height 99999 --grab-frames 3", 2,
            {huge});
        row("camera at its own size", "VEXO_MEMORY_AVAILABLE=65536 --source camera:Fake_1 --fake-camera --grab-frames 3", 2,
            {"1 channel x 16 buffers x 512 KiB = 8 MiB, but 64 KiB are available"});
        // Answered without a display, before the platform plugin is loaded.
        row("help without a display", "DISPLAY= QT_QPA_PLATFORM= --help", 0);
        row("version without a display", "DISPLAY= QT_QPA_PLATFORM= --version", 0);
        const auto bad = [&row](const char* name, const char* argument, const char* why) {
            row(name, argument, 2, {QStringLiteral("%1: %2").arg(argument, why)});
        };
        bad("bits too many", "--bits 17", "bits per value must be 1 to 16");
        bad("bits zero", "--bits 0", "bits per value must be 1 to 16");
        bad("no boards", "--boards 0", "the number of boards must be at least 1");
        bad("width not a number", "--width wide", "the width must be at least 1");
        bad("height beyond int", "--height 3000000000", "the height must be at least 1");
        bad("negative chunk", "--lines-per-chunk -1", "lines per chunk must be at least 0");
        bad("no frames", "--grab-frames 0", "the number of frames must be at least 1");
        bad("negative rate", "--fps -1", "the frame rate must be a number of at least 0");
        bad("rate not a number", "--fps nan", "the frame rate must be a number of at least 0");
        bad("loop without files", "--loop", "only files are replayed; use --source file:PATH or media:PATH");
        bad("BigTIFF without a folder", "--record-bigtiff", "name the folder with --record");
        row("files that are not there", "--source file:DIR/run#.tif --grab-frames 3", 3, {"no file DIR/run00000.tif"});
        row("files for several channels", "--source file:DIR/run#.tif --dma 2", 2,
            {"a camera, file or pipeline feeds one channel; use --boards 1 --dma 1"});
        row("a pipeline", "--source gst:videotestsrc --grab-frames 3 --report DIR/report.txt", 0);
        row("a pipeline without its element", "--source gst:nosuchsrc", 3, {"no element \"nosuchsrc\""});
        row("a webcam", "--source v4l2:/dev/video0 --grab-frames 3 --report DIR/report.txt", 0);
        row("unknown option", "--frobnicate", 2, {"Unknown option 'frobnicate'."});
        // Ended in order, with its report, and with the status a shell gives such an end.
        row("SIGTERM", small + "100000000 --report DIR/report.txt", 128 + SIGTERM, {}, SIGTERM);
        row("SIGINT", small + "100000000 --report DIR/report.txt", 128 + SIGINT, {}, SIGINT);
        // A frame that cannot be saved: the run says why, and its status says so.
        const auto unsaved = [&](const char* name, const QString& target, const char* why) {
            row(name, small + "2 --save-frame DIR/" + target, 1, {"cannot save DIR/" + target, why});
        };
        unsaved("path is a folder", "folder", "Is a directory");
        unsaved("name too long", QString(300, 'n') + ".tif", "File name too long");
        unsaved("disk full", "full/frame.tif", "No space left on device");
        unsaved("onto a pipe", "pipe", "pipe is not a regular file");
        // A recording that cannot write ends, says why, and fails the run; acquisition went on.
        row("recording onto a full disk", small + "5 --record DIR/full/run", 1,
            {"recording into DIR/full/run stopped: ", "No space left on device"});
        // The setup the library would keep quiet about is told once, with the display library
        // found through LD_LIBRARY_PATH in an installation of its own.
        const QString quiet = "LD_LIBRARY_PATH=DIR/lib VEXO_LOG_LEVELS= VEXO_LOG_FILE= " + small + "2";
        const QString logged = "LD_LIBRARY_PATH=DIR/lib VEXO_LOG_LEVELS= VEXO_LOG_FILE=DIR/log.txt " + small + "2";
        const QString target = "DIR/lib/libcommon-logging-dispatcher.so", real = "libcommon-logging-dispatcher.so";
        row("no dispatcher, no log asked", quiet, 0);
        row("no dispatcher, log asked", logged, 0,
            {"warning: VEXO_LOG_FILE is set, but there is no logging dispatcher at " + target});
        row("not a library", quiet, 0, {"warning: cannot load the logging dispatcher: " + target}, 0, "text");
        row("a library, not a dispatcher", logged, 0, {"warning: " + target + " is not a logging dispatcher"}, 0,
            "libvexo-core.so");
        // The real one, then, is not warned of; the configuration is.
        row("the real dispatcher, unreadable configuration", logged + " --config DIR/bad.ini", 0,
            {"warning: DIR/bad.ini: line 3: "}, 0, real);
        // Grab, open both tool windows, save a frame and close on the display XDISPLAY names.
        // No GL: the driver Qt's GLX integration loads and unloads leaves a block behind that
        // the leak checker can name no library of.
        row("under an X server", "XDISPLAY QT_QPA_PLATFORM=xcb QT_XCB_GL_INTEGRATION=none --width 640 --height 480 --bits 12 --fps 100 --grab-frames 20"
            " --tools --screenshot DIR/shot.png --save-frame DIR/frame.tif --report DIR/report.txt", 0);
    }

    void runs()
    {
        QFETCH(QString, arguments);
        QFETCH(int, signal);
        QFETCH(QString, dispatcher);
        QFETCH(int, status);
        QFETCH(QStringList, told);
        if (arguments.contains("v4l2:/dev/video0") && !QFile::exists("/dev/video0"))
            QSKIP("this machine has no video device");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder") && ::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600) == 0);
        QFile ini(dir.filePath("bad.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[General]\nfine=1\nthis line is no entry\n") > 0);
        ini.close();
        const QString lib = dir.filePath("lib"), target = lib + "/libcommon-logging-dispatcher.so";
        QVERIFY(QDir().mkpath(lib)
                && QFile::link(QStringLiteral(VEXO_DISPLAY_LIBRARY), lib + "/" + QStringLiteral(VEXO_DISPLAY_SONAME)));
        if (dispatcher == "text")
            QVERIFY(QFile::copy(ini.fileName(), target));
        else if (!dispatcher.isEmpty())
            QVERIFY(QFile::copy(QFileInfo(QStringLiteral(VEXO_DISPLAY_LIBRARY)).absolutePath() + '/' + dispatcher, target));
        const QString full = dir.filePath("full"), report = dir.filePath("report.txt");
        const bool onFullDisk = arguments.contains("DIR/full/");
        if (onFullDisk && (::geteuid() != 0 || !QDir().mkpath(full)
                           || QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full}) != 0))
            QSKIP("the full disk is a small file system mounted here, which needs root");
        const auto unmount = qScopeGuard([&] { return onFullDisk && QProcess::execute("umount", {full}) == 0; });
        if (onFullDisk) // filled, less than a frame's worth left
            QProcess::execute("sh", {"-c", "dd if=/dev/zero of=" + full + "/filler bs=1k count=16 2>/dev/null"});
        QProcess server;
        const auto stopServer = qScopeGuard([&server] { server.terminate(), server.waitForFinished(10000); });
        if (arguments.startsWith("XDISPLAY")) {
            // -displayfd 1: the server picks a free display and prints its number when it is ready.
            server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1600x1200x24", "-nolisten", "tcp"});
            if (!server.waitForStarted())
                QSKIP("Xvfb is not installed (Debian package xvfb)");
            QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine() || server.state() != QProcess::Running, 30000);
            arguments.replace("XDISPLAY", "DISPLAY=:" + QString::fromLatin1(server.readLine()).trimmed());
        }
        std::function<void(QProcess&)> interrupt;
        if (signal != 0)
            interrupt = [signal](QProcess& viewer) { ::kill(pid_t(viewer.processId()), signal); };
        QString errors;
        const int ended = runViewer(arguments.replace("DIR", dir.path()).split(' '), &errors, interrupt);
        if (errors.contains("without camera support") || errors.contains("without GStreamer"))
            QSKIP("the viewer was built without that source");
        QCOMPARE(ended, status);
        for (const QString& part : told)
            QVERIFY2(errors.contains(QString(part).replace("DIR", dir.path())), qPrintable(errors));
        QCOMPARE(errors.count("vexo-display-viewer: warning: "), told.filter("warning: ").size());
        const auto values = readReport(report);
        if (arguments.contains(report))
            QVERIFY(values.value("sourceConnected") == "1" && values.value("framesShown").toInt() > 0);
        // Overflows are passed on at the window's next tick, which an interrupted run does not wait for.
        if (arguments.contains(report) && signal == 0)
            QCOMPARE(values.value("overflow"), QStringLiteral("Overflow: <b>%1</b> / <b>%2</b>")
                                                   .arg(values.value("framesLostBySource"), values.value("framesDropped")));
        if (arguments.contains("xcb"))
            checkScreen(QDir(dir.path()), values);
        // Nothing half-written left anywhere below the folder, and the pipe stays a pipe.
        QStringList left;
        for (QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
             it.hasNext();)
            left << it.next();
        for (const QString& file : {dir.filePath("bad.ini"), target, full + "/filler", report, dir.filePath("log.txt")})
            left.removeAll(file);
        QCOMPARE(left, QStringList());
        QVERIFY(!QFileInfo(dir.filePath("pipe")).isFile() && QFileInfo::exists(dir.filePath("pipe")));
    }

    // A headless recording: the frames asked for are all accounted for, and those written
    // replay as files.
    void recordsHeadless_data()
    {
        QTest::addColumn<bool>("bigTiff");
        QTest::newRow("files") << false;
        QTest::newRow("BigTIFF") << true;
    }
    void recordsHeadless()
    {
        QFETCH(bool, bigTiff);
        QTemporaryDir dir;
        QProcess viewer;
        QStringList arguments{"--width", "64", "--height", "48", "--fps", "200", "--grab-frames", "20", "--record",
                              dir.filePath("run")};
        if (bigTiff)
            arguments << "--record-bigtiff";
        viewer.start(QStringLiteral(VEXO_VIEWER), arguments);
        QVERIFY(viewer.waitForFinished(60000));
        QCOMPARE(viewer.exitCode(), 0);
        const QString output = QString::fromLocal8Bit(viewer.readAllStandardOutput());
        const QRegularExpressionMatch told =
            QRegularExpression("recorded 20 frames to (\\S+): (\\d+) written, (\\d+) not written, [0-9.]+ MB/s")
                .match(output);
        QVERIFY2(told.hasMatch(), qPrintable(output));
        const int written = told.captured(2).toInt();
        QCOMPARE(written + told.captured(3).toInt(), 20);
        QVERIFY(written > 0);
        const QString path = dir.filePath(bigTiff ? "run/frame.tif" : "run/frame00000.tif");
        QCOMPARE(told.captured(1), bigTiff ? path : dir.filePath("run"));
        vexo::core::FileSource replay({path.toStdString()});
        QVERIFY2(replay.isUsable(), replay.lastError().c_str());
        QCOMPARE(replay.frameCount(), written);
    }

    // The range in use as the report gives it, Auto's as measured: the test chart spans the
    // whole bit depth, its border and bars hold far more than 0.1% of the pixels at 0 and at
    // the top.
    void levelsReported()
    {
        QTemporaryDir dir;
        const QString report = dir.filePath("report.txt");
        QString errors;
        const QStringList common = QStringLiteral("--width 64 --height 48 --fps 50 --pattern chart --grab-frames 3 --report")
                                       .split(' ');
        QCOMPARE(runViewer(common + QStringList{report, "--bits", "10", "--levels", "auto"}, &errors), 0);
        QCOMPARE(readReport(report).value("levels"), QStringLiteral("0,1023"));
    }
};

QTEST_GUILESS_MAIN(TestViewerHeadless)
#include "tst_viewer_headless.moc"
