// The viewer run as scripts run it: what it refuses, what it prints and its exit status.

#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

class TestViewerHeadless : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void saveErrorsSayWhy_data();
    void saveErrorsSayWhy();
    void endedBySignal_data();
    void endedBySignal();
    void unreadableConfigurationWarnedOnce();
    void unusableDispatcherWarnedOnce_data();
    void unusableDispatcherWarnedOnce();
    void overflowsCounted();
};

// Runs the viewer to its end; returns its exit status (-1 when it crashed or hung).
// Leading NAME=value arguments go into its environment instead; NAME= removes NAME.
static int runViewer(QStringList arguments, QString* errors, int timeoutMs = 60000)
{
    QProcess viewer;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    static const QRegularExpression assignment(QStringLiteral("^([A-Z_][A-Z0-9_]*)=(.*)$"));
    for (QRegularExpressionMatch m; !arguments.isEmpty() && (m = assignment.match(arguments.first())).hasMatch();
         arguments.removeFirst()) {
        if (m.captured(2).isEmpty())
            environment.remove(m.captured(1));
        else
            environment.insert(m.captured(1), m.captured(2));
    }
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VEXO_VIEWER), arguments);
    if (!viewer.waitForStarted() || !viewer.waitForFinished(timeoutMs)) {
        viewer.kill();
        viewer.waitForFinished();
        return -1;
    }
    *errors = QString::fromLocal8Bit(viewer.readAllStandardError());
    return viewer.exitStatus() == QProcess::NormalExit ? viewer.exitCode() : -1;
}

void TestViewerHeadless::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");

    QTest::newRow("fits") << QStringList{"--width", "64", "--height", "48", "--fps", "0", "--grab-frames", "3"} << 0
                          << QString();
    QTest::newRow("several channels end together")
        << QStringList{"--width", "64", "--height", "32", "--dma", "2", "--boards", "2", "--fps", "0", "--grab-frames", "3"}
        << 0 << QString();
    // memory bounds
    QTest::newRow("ring too long") << QStringList{"--buffers", "100000"} << 2
                                   << "1 channel x 100000 buffers x 8 MiB = 781.2 GiB, but ";
    QTest::newRow("channels too many") << QStringList{"--boards", "64", "--dma", "4"} << 2
                                       << "256 channels x 16 buffers x 8 MiB = 32 GiB, but ";
    QTest::newRow("frame too large") << QStringList{"--width", "100000", "--height", "100000"} << 2
                                     << "1 channel x 16 buffers x 18.6 GiB = 298.0 GiB, but ";
    // 64 x 32 gray takes 4 KiB a buffer: the sum against the override, to the byte.
    QTest::newRow("ring fits to the byte")
        << QStringList{"VEXO_MEMORY_AVAILABLE=16384", "--width", "64", "--height", "32", "--buffers", "4",
                       "--fps", "0", "--grab-frames", "3"}
        << 0 << QString();
    QTest::newRow("channels one byte short")
        << QStringList{"VEXO_MEMORY_AVAILABLE=32767", "--width", "64", "--height", "32", "--buffers", "4",
                       "--dma", "2", "--fps", "0", "--grab-frames", "3"}
        << 2 << "2 channels x 4 buffers x 4 KiB = 32 KiB, but 31.9 KiB are available";
    // A camera's own size counts as much as one asked for: refused, not thrown.
    QTest::newRow("camera at a huge size")
        << QStringList{"--source", "camera:Fake_1", "--fake-camera", "--width", "99999", "--height", "99999",
                       "--grab-frames", "3"}
        << 2 << "1 channel x 16 buffers x 18.6 GiB = 298.0 GiB, but ";
    // Answered without a display, before the platform plugin is loaded.
    QTest::newRow("help without a display") << QStringList{"DISPLAY=", "QT_QPA_PLATFORM=", "--help"} << 0 << QString();
    QTest::newRow("version without a display") << QStringList{"DISPLAY=", "QT_QPA_PLATFORM=", "--version"} << 0
                                               << QString();
    // options
    QTest::newRow("bits too many") << QStringList{"--bits", "17"} << 2 << "--bits 17: bits per value must be 1 to 16";
    QTest::newRow("bits zero") << QStringList{"--bits", "0"} << 2 << "--bits 0: bits per value must be 1 to 16";
    QTest::newRow("no boards") << QStringList{"--boards", "0"} << 2
                               << "--boards 0: the number of boards must be at least 1";
    QTest::newRow("width not a number") << QStringList{"--width", "wide"} << 2
                                        << "--width wide: the width must be at least 1";
    QTest::newRow("height beyond int") << QStringList{"--height", "3000000000"} << 2
                                       << "--height 3000000000: the height must be at least 1";
    QTest::newRow("negative chunk") << QStringList{"--lines-per-chunk", "-1"} << 2
                                    << "--lines-per-chunk -1: lines per chunk must be at least 0";
    QTest::newRow("no frames") << QStringList{"--grab-frames", "0"} << 2
                               << "--grab-frames 0: the number of frames must be at least 1";
    QTest::newRow("negative rate") << QStringList{"--fps", "-1"} << 2
                                   << "--fps -1: the frame rate must be a number of at least 0";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << 2 << "Unknown option 'frobnicate'.";
    QTest::newRow("rate not a number") << QStringList{"--fps", "nan"} << 2
                                       << "--fps nan: the frame rate must be a number of at least 0";
}

void TestViewerHeadless::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QString errors;
    const int ended = runViewer(arguments, &errors);
    if (errors.contains("without camera support"))
        QSKIP("the viewer was built without camera support");
    QCOMPARE(ended, status);
    if (!message.isEmpty())
        QVERIFY2(errors.contains(message), qPrintable(errors));
}

static const QStringList smallRun{"--width", "64", "--height", "48", "--fps", "200"};

// A short ring at full speed drops frames: the window counts exactly the frames the scene
// dropped and the source lost, in numbers, not "-".
void TestViewerHeadless::overflowsCounted()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString report = dir.filePath("report.txt");
    QString errors;
    QCOMPARE(runViewer({"--width", "256", "--height", "256", "--fps", "0", "--buffers", "3", "--grab-frames", "40",
                        "--report", report},
                       &errors),
             0);
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> values;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.contains('='))
            values.insert(QString::fromUtf8(line.left(line.indexOf('='))), QString::fromUtf8(line.mid(line.indexOf('=') + 1)));
    QCOMPARE(values.value("overflow"), QStringLiteral("Overflow: <b>%1</b> / <b>%2</b>")
                                           .arg(values.value("framesLostBySource"), values.value("framesDropped")));
}

void TestViewerHeadless::saveErrorsSayWhy_data()
{
    QTest::addColumn<QString>("target"); // below a fresh folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << "not/there/frame.tif" << "No such file or directory";
    QTest::newRow("path is a folder") << "folder" << "Is a directory";
    QTest::newRow("name too long") << QString(300, 'n') + ".tif" << "File name too long";
    QTest::newRow("disk full") << "full/frame.tif" << "No space left on device";
    QTest::newRow("onto a pipe") << "pipe" << "pipe is not a regular file";
}

void TestViewerHeadless::saveErrorsSayWhy()
{
    QFETCH(QString, target);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600) == 0);
    const QString full = dir.filePath("full");
    if (target.startsWith("full/")) {
        if (::geteuid() != 0)
            QSKIP("mounting a small file system for the full disk needs root");
        QVERIFY(QDir().mkpath(full));
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=16k", "tmpfs", full}) != 0)
            QSKIP("cannot mount a tmpfs here");
        // Fill it, less than a frame's worth left.
        QProcess::execute("sh", {"-c", "dd if=/dev/zero of=" + full + "/filler bs=1k count=16 2>/dev/null"});
    }
    const auto unmount = qScopeGuard([&] {
        if (target.startsWith("full/"))
            QProcess::execute("umount", {full});
    });

    QString errors;
    const int status = runViewer(smallRun + QStringList{"--grab-frames", "2", "--save-frame", dir.filePath(target)}, &errors);
    QCOMPARE(status, 1);
    QVERIFY2(errors.contains("cannot save " + dir.filePath(target)) && errors.contains(reason), qPrintable(errors));
    // Nothing half-written left anywhere below the folder, the target least of all.
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    QStringList left;
    while (it.hasNext())
        left << it.next();
    left.removeAll(full + "/filler");
    QCOMPARE(left, QStringList());
    // Whatever was there stays what it was.
    QVERIFY(QFileInfo(dir.filePath("pipe")).isFile() == false && QFileInfo::exists(dir.filePath("pipe")));
}

void TestViewerHeadless::endedBySignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestViewerHeadless::endedBySignal()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString report = dir.filePath("report.txt");
    QProcess viewer;
    viewer.start(QStringLiteral(VEXO_VIEWER), smallRun + QStringList{"--grab-frames", "100000000", "--report", report});
    QVERIFY(viewer.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += viewer.readAllStandardOutput()).contains("frames shown")
                                 || viewer.state() == QProcess::NotRunning,
                             30000);
    ::kill(pid_t(viewer.processId()), signal);
    QVERIFY(viewer.waitForFinished(30000));
    QCOMPARE(viewer.exitStatus(), QProcess::NormalExit);
    QCOMPARE(viewer.exitCode(), 128 + signal);
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(file.readAll());
    QVERIFY2(text.contains("sourceConnected=1"), qPrintable(text));
    const QRegularExpression shown("framesShown=([0-9]+)");
    const auto match = shown.match(text);
    QVERIFY2(match.hasMatch() && match.captured(1).toInt() > 0, qPrintable(text));
}

void TestViewerHeadless::unreadableConfigurationWarnedOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath("vexo.ini");
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\nfine=1\nthis line is no entry\n");
    file.close();
    QString errors;
    QCOMPARE(runViewer(smallRun + QStringList{"--grab-frames", "2", "--config", config}, &errors), 0);
    const QString warning = "vexo-display-viewer: warning: " + config + ": line 3: ";
    QVERIFY2(errors.count(warning) == 1, qPrintable(errors));
}

void TestViewerHeadless::unusableDispatcherWarnedOnce_data()
{
    QTest::addColumn<QString>("dispatcher"); // what lib/ of the installation holds
    QTest::addColumn<bool>("logAsked");
    QTest::addColumn<QString>("warning");    // empty: none
    QTest::newRow("none, no log asked") << "" << false << "";
    QTest::newRow("none, log asked") << "" << true << "there is no logging dispatcher at ";
    QTest::newRow("not a library") << "text" << false << "cannot load the logging dispatcher: ";
    QTest::newRow("a library, not a dispatcher") << "other" << true << "is not a logging dispatcher";
    QTest::newRow("the real one") << "real" << true << "";
}

void TestViewerHeadless::unusableDispatcherWarnedOnce()
{
    QFETCH(QString, dispatcher);
    QFETCH(bool, logAsked);
    QFETCH(QString, warning);
    // An installation of its own: the display library found through LD_LIBRARY_PATH in
    // its lib/, and in the same lib/ the dispatcher of the row.
    QTemporaryDir installation;
    QVERIFY(installation.isValid());
    QVERIFY(QDir(installation.path()).mkdir("lib"));
    const QString built = QFileInfo(QStringLiteral(VEXO_DISPLAY_LIBRARY)).absolutePath();
    const QString lib = installation.filePath("lib");
    QVERIFY(QFile::link(QStringLiteral(VEXO_DISPLAY_LIBRARY), lib + "/" + QStringLiteral(VEXO_DISPLAY_SONAME)));
    const QString target = lib + "/libcommon-logging-dispatcher.so";
    if (dispatcher == "text") {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a shared library\n");
    } else if (dispatcher == "other") {
        QVERIFY(QFile::copy(built + "/libvexo-core.so", target));
    } else if (dispatcher == "real") {
        QVERIFY(QFile::copy(built + "/libcommon-logging-dispatcher.so", target));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_LIBRARY_PATH", lib);
    environment.remove("VEXO_LOG_LEVELS");
    environment.remove("VEXO_LOG_FILE");
    if (logAsked)
        environment.insert("VEXO_LOG_FILE", installation.filePath("log.txt"));

    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.start(QStringLiteral(VEXO_VIEWER), smallRun + QStringList{"--grab-frames", "2"});
    QVERIFY(viewer.waitForFinished(60000));
    const QString errors = QString::fromLocal8Bit(viewer.readAllStandardError());
    QCOMPARE(viewer.exitCode(), 0);
    const QString prefix = "vexo-display-viewer: warning: ";
    if (warning.isEmpty()) {
        QVERIFY2(!errors.contains(prefix), qPrintable(errors));
    } else {
        QVERIFY2(errors.count(prefix) == 1 && errors.contains(warning), qPrintable(errors));
        QVERIFY2(errors.contains(target), qPrintable(errors));
    }
}

QTEST_GUILESS_MAIN(TestViewerHeadless)
#include "tst_viewer_headless.moc"
