// The viewer run as scripts run it: what it refuses, what it prints and its exit status.

#include "ViewerReport.h"

#include <QDirIterator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

static bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

static const QStringList smallRun{"--width", "64", "--height", "48", "--fps", "200"};

class TestViewerHeadless : public QObject
{
    Q_OBJECT

private slots:
    // Split at spaces; leading NAME=value go into the environment, REPORT is a report file
    // whose overflow line is checked.
    void refusals_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString tiny = " --width 64 --height 32 --buffers 4 --fps 0 --grab-frames 3";
        const QString huge = "1 channel x 16 buffers x 18.6 GiB = 298.0 GiB, but ";
        QTest::newRow("fits") << "--width 64 --height 48 --fps 0 --grab-frames 3" << 0 << "";
        QTest::newRow("several channels end together") << "--dma 2 --boards 2" + tiny << 0 << "";
        // A short ring at full speed drops frames: the window counts exactly what the scene
        // dropped and the source lost, in numbers, not "-".
        QTest::newRow("overflows counted")
            << "--width 256 --height 256 --fps 0 --buffers 3 --grab-frames 40 --report REPORT" << 0 << "";
        QTest::newRow("ring too long") << "--buffers 100000" << 2 << "1 channel x 100000 buffers x 8 MiB = 781.2 GiB, but ";
        QTest::newRow("channels too many") << "--boards 64 --dma 4" << 2 << "256 channels x 16 buffers x 8 MiB = 32 GiB, but ";
        QTest::newRow("frame too large") << "--width 100000 --height 100000" << 2 << huge;
        // 64 x 32 gray takes 4 KiB a buffer: the sum against the override, to the byte.
        QTest::newRow("ring fits to the byte") << "VEXO_MEMORY_AVAILABLE=16384" + tiny << 0 << "";
        QTest::newRow("channels one byte short") << "VEXO_MEMORY_AVAILABLE=32767 --dma 2" + tiny << 2
                                                 << "2 channels x 4 buffers x 4 KiB = 32 KiB, but 31.9 KiB are available";
        // A camera's own size counts as much as one asked for: refused, not thrown.
        QTest::newRow("camera at a huge size") << "--source camera:Fake_1 --fake-camera --width 99999 --height 99999 --grab-frames 3"
                                               << 2 << huge;
        // Answered without a display, before the platform plugin is loaded.
        QTest::newRow("help without a display") << "DISPLAY= QT_QPA_PLATFORM= --help" << 0 << "";
        QTest::newRow("version without a display") << "DISPLAY= QT_QPA_PLATFORM= --version" << 0 << "";
        const auto bad = [](const char* name, const char* argument, const char* why) {
            QTest::newRow(name) << argument << 2 << QStringLiteral("%1: %2").arg(argument, why);
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
        QTest::newRow("unknown option") << "--frobnicate" << 2 << "Unknown option 'frobnicate'.";
    }

    void refusals()
    {
        QFETCH(QString, arguments);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString report = dir.filePath("report.txt");
        const QStringList words = arguments.replace("REPORT", report).split(' ');
        QString errors;
        const int ended = runViewer(words, &errors);
        if (errors.contains("without camera support"))
            QSKIP("the viewer was built without camera support");
        QCOMPARE(ended, status);
        QVERIFY2(errors.contains(message), qPrintable(errors));
        const auto values = readReport(report);
        if (words.contains(report))
            QCOMPARE(values.value("overflow"), QStringLiteral("Overflow: <b>%1</b> / <b>%2</b>")
                                                   .arg(values.value("framesLostBySource"), values.value("framesDropped")));
    }

    void saveErrorsSayWhy_data()
    {
        QTest::addColumn<QString>("target"); // below a fresh folder
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "not/there/frame.tif" << "No such file or directory";
        QTest::newRow("path is a folder") << "folder" << "Is a directory";
        QTest::newRow("name too long") << QString(300, 'n') + ".tif" << "File name too long";
        QTest::newRow("disk full") << "full/frame.tif" << "No space left on device";
        QTest::newRow("onto a pipe") << "pipe" << "pipe is not a regular file";
    }

    void saveErrorsSayWhy()
    {
        QFETCH(QString, target);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder") && ::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600) == 0);
        const QString full = dir.filePath("full");
        const bool onFullDisk = target.startsWith("full/");
        if (onFullDisk && ::geteuid() != 0)
            QSKIP("mounting a small file system for the full disk needs root");
        if (onFullDisk && (!QDir().mkpath(full) || QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full}) != 0))
            QSKIP("cannot mount a tmpfs here");
        const auto unmount = qScopeGuard([&] { return onFullDisk && QProcess::execute("umount", {full}) == 0; });
        if (onFullDisk) // filled, less than a frame's worth left
            QProcess::execute("sh", {"-c", "dd if=/dev/zero of=" + full + "/filler bs=1k count=16 2>/dev/null"});
        QString errors;
        QCOMPARE(runViewer(smallRun + QStringList{"--grab-frames", "2", "--save-frame", dir.filePath(target)}, &errors), 1);
        QVERIFY2(errors.contains("cannot save " + dir.filePath(target)) && errors.contains(reason), qPrintable(errors));
        // Nothing half-written left anywhere below the folder, and the pipe stays a pipe.
        QStringList left;
        const auto files = QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot;
        for (QDirIterator it(dir.path(), files, QDirIterator::Subdirectories); it.hasNext();)
            left << it.next();
        left.removeAll(full + "/filler");
        QCOMPARE(left, QStringList());
        QVERIFY(!QFileInfo(dir.filePath("pipe")).isFile() && QFileInfo::exists(dir.filePath("pipe")));
    }

    void endedBySignal_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void endedBySignal()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        QProcess viewer;
        startViewer(viewer, smallRun + QStringList{"--grab-frames", "100000000", "--report", dir.filePath("r")});
        QVERIFY(showsFrames(viewer));
        ::kill(pid_t(viewer.processId()), signal);
        QVERIFY(viewer.waitForFinished(30000));
        QCOMPARE(QPoint(viewer.exitStatus(), viewer.exitCode()), QPoint(QProcess::NormalExit, 128 + signal));
        const auto report = readReport(dir.filePath("r"));
        QCOMPARE(report.value("sourceConnected"), QStringLiteral("1"));
        QVERIFY2(report.value("framesShown").toInt() > 0, qPrintable(report.value("framesShown")));
    }

    void warnedOnce_data()
    {
        QTest::addColumn<QString>("dispatcher"); // what lib/ of the installation holds
        QTest::addColumn<bool>("logAsked");
        QTest::addColumn<QByteArray>("config");  // empty: the user's
        QTest::addColumn<QString>("warning");    // empty: none; TARGET is the dispatcher, CONFIG the file
        QTest::newRow("none, no log asked") << "" << false << QByteArray() << "";
        QTest::newRow("none, log asked") << "" << true << QByteArray() << "there is no logging dispatcher at TARGET";
        QTest::newRow("not a library") << "text" << false << QByteArray() << "cannot load the logging dispatcher: TARGET";
        QTest::newRow("a library, not a dispatcher") << "other" << true << QByteArray() << "TARGET is not a logging dispatcher";
        QTest::newRow("the real one") << "real" << true << QByteArray() << "";
        QTest::newRow("unreadable configuration")
            << "real" << false << QByteArray("[General]\nfine=1\nthis line is no entry\n") << "CONFIG: line 3: ";
    }

    void warnedOnce()
    {
        QFETCH(QString, dispatcher);
        QFETCH(bool, logAsked);
        QFETCH(QByteArray, config);
        QFETCH(QString, warning);
        // An installation of its own: the display library found through LD_LIBRARY_PATH in
        // its lib/, and in the same lib/ the dispatcher of the row.
        QTemporaryDir installation;
        const QString lib = installation.filePath("lib"), target = lib + "/libcommon-logging-dispatcher.so";
        const QString configFile = installation.filePath("vexo.ini");
        const QString built = QFileInfo(QStringLiteral(VEXO_DISPLAY_LIBRARY)).absolutePath();
        QVERIFY(QDir().mkpath(lib)
                && QFile::link(QStringLiteral(VEXO_DISPLAY_LIBRARY), lib + "/" + QStringLiteral(VEXO_DISPLAY_SONAME)));
        if (dispatcher == "text")
            QVERIFY(writeFile(target, "not a shared library\n"));
        else if (!dispatcher.isEmpty())
            QVERIFY(QFile::copy(built + (dispatcher == "real" ? "/libcommon-logging-dispatcher.so" : "/libvexo-core.so"), target));
        QStringList arguments = QStringList{"LD_LIBRARY_PATH=" + lib, "VEXO_LOG_LEVELS=",
                                            "VEXO_LOG_FILE=" + (logAsked ? installation.filePath("log.txt") : QString())}
                                + smallRun + QStringList{"--grab-frames", "2"};
        if (!config.isEmpty())
            arguments << "--config" << configFile;
        QString errors;
        QVERIFY(config.isEmpty() || writeFile(configFile, config));
        QCOMPARE(runViewer(arguments, &errors), 0);
        QCOMPARE(errors.count("vexo-display-viewer: warning: "), warning.isEmpty() ? 0 : 1);
        QVERIFY2(errors.contains(warning.replace("TARGET", target).replace("CONFIG", configFile)), qPrintable(errors));
    }
};

QTEST_GUILESS_MAIN(TestViewerHeadless)
#include "tst_viewer_headless.moc"
