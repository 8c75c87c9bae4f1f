// Logging in the build tree: the installation search, loading installed libraries, the
// loggers' switches, and the real dispatcher (this program lives in <build>/bin, so
// <build>/lib holds the dispatcher it attaches to).

#include "FrameTestSupport.h"

#include "frame/DynamicLibrary.h"
#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"

#include "common-logging-dispatcher/LoggingDispatcher.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

#include <algorithm>
#include <memory>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;
namespace logging = vexo::tools::logging;

namespace {

using ControllerScope = ControllerScopeOf<LibraryInitController>;

// A null value unsets, so that each case sets all it depends on.
void setEnvironment(const char* name, const QByteArray& value) { value.isNull() ? qunsetenv(name) : qputenv(name, value); }

// The path functions get buffers this much longer than they may use; the tail must stay 'x'.
constexpr std::size_t pathSize = logging::installationPathSize, bufferSize = pathSize + 16;

const char* const dispatcherName = "common-logging-dispatcher";

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void installationDirectory_data()
    {
        QTest::addColumn<QByteArray>("modulePath"); // null: none known
        QTest::addColumn<QByteArray>("vexodir64");  // null: unset
        QTest::addColumn<QByteArray>("vexodir");
        QTest::addColumn<QByteArray>("expected"); // null: nothing found
        const QByteArray none;
        const auto fromPath = [&](const char* name, const char* path, const QByteArray& expected) {
            QTest::newRow(name) << QByteArray(path) << none << none << expected;
        };
        fromPath("letter case ignored, with a blank, one level down", "/srv/rt/hardware APPLETS/Tools/x.so", "/srv/rt");
        fromPath("the nearest marker counts", "/opt/vexo/lib/plugins/bin/x.so", "/opt/vexo/lib/plugins");
        fromPath("repeated separators", "/opt//vexo//lib//x.so", "/opt//vexo");
        fromPath("marker below the root", "/lib/x.so", "");
        fromPath("relative, marker with a parent", "./bin/x", ".");
        fromPath("the file's own name is no directory", "/opt/vexo/lib", none);
        fromPath("names that only look alike", "/opt/libs/binary/lib32/x.so", none);
        fromPath("no separator", "x.so", none);
        fromPath("relative marker without a parent", "lib/x.so", none);
        QTest::newRow("module path first") << QByteArray("/opt/vexo/lib/x.so") << QByteArray("/e64") << QByteArray("/e") << QByteArray("/opt/vexo");
        QTest::newRow("VEXODIR5_64 before VEXODIR5") << QByteArray("/usr/x.so") << QByteArray("/e64") << QByteArray("/e") << QByteArray("/e64");
        QTest::newRow("VEXODIR5 alone, trailing separators removed") << none << none << QByteArray("/runtime//") << QByteArray("/runtime");
        QTest::newRow("only separators") << none << QByteArray("//") << none << QByteArray("");
        QTest::newRow("set but empty still counts") << none << QByteArray("") << QByteArray("/e") << QByteArray("");
        QTest::newRow("module path too long for the buffer")
            << QByteArray("/opt/" + QByteArray(1100, 'a') + "/lib/x.so") << none << QByteArray("/e") << QByteArray("/e");
        QTest::newRow("value too long: cut to the buffer")
            << none << none << QByteArray("/" + QByteArray(1500, 'v')) << QByteArray("/" + QByteArray(1022, 'v'));
    }

    void installationDirectory()
    {
        QFETCH(QByteArray, modulePath);
        QFETCH(QByteArray, vexodir64);
        QFETCH(QByteArray, vexodir);
        QFETCH(QByteArray, expected);
        setEnvironment("VEXODIR5_64", vexodir64);
        setEnvironment("VEXODIR5", vexodir);
        std::vector<char> buffer(bufferSize, 'x');
        const bool found = logging::findInstallationDirectory(modulePath.isNull() ? nullptr : modulePath.constData(), buffer.data());
        QCOMPARE(found ? QByteArray(buffer.data()) : QByteArray(), expected);
        QCOMPARE(std::size_t(std::count(buffer.begin() + pathSize, buffer.end(), 'x')), bufferSize - pathSize);
    }

    void loadingInstalledLibraries()
    {
        // The path must fit the buffer with its terminator: exactly full, then one too many.
        const QByteArray fixed = QByteArray("/lib/lib") + dispatcherName + ".so";
        for (const int extra : {0, 1}) {
            const QByteArray directory(int(pathSize) - 1 - fixed.size() + extra, 'd');
            std::vector<char> buffer(bufferSize, 'x');
            const bool fits = logging::installedLibraryPath(dispatcherName, directory.constData(), buffer.data());
            QCOMPARE(fits ? QByteArray(buffer.data()) : QByteArray(), extra ? QByteArray() : directory + fixed);
            QCOMPARE(std::size_t(std::count(buffer.begin() + pathSize, buffer.end(), 'x')), bufferSize - pathSize);
        }
        QVERIFY(!logging::loadInstalledLibrary(dispatcherName, NO_EXPORT_INSTALLATION "/nowhere"));
        logging::DynamicLibrary missing(NO_EXPORT_INSTALLATION "/nowhere/lib/libnothing.so", false);
        QVERIFY2(!missing.load() && missing.errorText().find("libnothing") != std::string::npos, missing.errorText().c_str());

        std::unique_ptr<logging::DynamicLibrary> noExport(logging::loadInstalledLibrary(dispatcherName, NO_EXPORT_INSTALLATION));
        QVERIFY(noExport && !noExport->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
        // Never unloaded by us: the libraries outlive the objects that loaded them.
        noExport.reset();
        void* handle = ::dlopen(NO_EXPORT_INSTALLATION "/lib/libcommon-logging-dispatcher.so", RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(handle && ::dlclose(handle) == 0); // drops only the reference taken just now
    }

    // The logger's level is the lowest that passes; switching off holds on the calling thread only.
    void loggerSwitches()
    {
        Logger logger(1, 3);
        QVERIFY(logger.isEnabled(3) && !logger.isEnabled(2));
        QVERIFY2(logger.setThreadEnabled(false) && !logger.isEnabled(3), "was on, now off here");
        bool elsewhere = false;
        std::thread([&] { elsewhere = logger.isEnabled(3); }).join();
        QVERIFY2(elsewhere, "off on another thread too");
        QVERIFY2(!logger.setThreadEnabled(true) && logger.isEnabled(3), "was off, now on again");
    }

    // First to register with the dispatcher, so that its first and last ids both log.
    // Messages from threads at once come out as whole lines.
    void dispatcherFile()
    {
        constexpr int threadCount = 4, messages = 250;
        QTemporaryDir folder;
        QFile file(folder.filePath("log.txt"));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write("earlier line\n") > 0 && file.flush());
        setEnvironment("VEXO_LOG_FILE", QFile::encodeName(file.fileName()));
        setEnvironment("VEXO_LOG_LEVELS", "t.write=0,t.quiet=5,*=0");
        QStringList expected{"[3 notice] t.write: hello", "[2 info] t.write: two\\nlines\\r", "[8] t.write: beyond fatal",
                             "[5 error] t.quiet: at the logger's level"};
        {
            ControllerScope scope;
            Logger* write = Logging::instance()->getLogger("t.write");
            Logger* quiet = Logging::instance()->getLogger("t.quiet");
            QCOMPARE(Logging::instance()->getLogger("t.write"), write); // one logger per name
            write->log(3, "hello", 0, 0);
            write->log(2, "two\nlines\r", 0, 0);
            write->log(8, "beyond fatal", 0, 0);
            quiet->log(4, "below the logger's level", 0, 0); // the dispatcher tests again
            quiet->log(5, "at the logger's level", 0, 0);
            runTogether(threadCount, [](int t) {
                for (int i = 0; i < messages; ++i) { // fetched concurrently too, by name each time
                    Logger* logger = Logging::instance()->getLogger(i % 2 ? "t.odd" : "t.even");
                    if (logger->isEnabled(2))
                        logger->log(2, QStringLiteral("thread %1 message %2").arg(t).arg(i).toUtf8().constData(), 0, 0);
                }
            });
        } // the last release detaches, which closes the file
        qunsetenv("VEXO_LOG_FILE"); // the other cases write nothing
        for (int t = 0; t < threadCount; ++t)
            for (int i = 0; i < messages; ++i)
                expected << QStringLiteral("[2 info] t.%1: thread %2 message %3").arg(i % 2 ? "odd" : "even").arg(t).arg(i);

        QVERIFY(file.seek(0)); // from the start, with what the dispatcher appended through its own handle
        QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        QCOMPARE(lines.takeFirst() + '|' + lines.takeLast(), QStringLiteral("earlier line|")); // appended, not replaced
        const QRegularExpression stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} ");
        QCOMPARE(lines.filter(stamp).size(), lines.size());
        lines.replaceInStrings(stamp, QString());
        std::sort(lines.begin() + 4, lines.end()); // the threads' lines in any order, but whole
        std::sort(expected.begin() + 4, expected.end());
        QCOMPARE(lines, expected);
    }

    void dispatcherLevels_data()
    {
        QTest::addColumn<QByteArray>("rules"); // VEXO_LOG_LEVELS; null: unset
        QTest::addColumn<QString>("levels");   // <logger>=<level> each
        QTest::newRow("unset: warning") << QByteArray() << "guard.library=4";
        QTest::newRow("exact, then the longest prefix up to its dot, then everyone else")
            << QByteArray("guard.library=3,guard.*=1,a.b.*=2,a.*=1,vexo.core.*=1,*=6")
            << "guard.library=3 guard.x=1 a.b.c=2 a.c=1 vexo.core.X.Y=1 vexo.corex=6 vexo.core=6";
        QTest::newRow("the later of equal rules wins") << QByteArray("x=1,x=3,p.*=1,p.*=3") << "x=3 p.q=3";
        QTest::newRow("blanks allowed, broken rules skipped") << QByteArray(" x = 2 ,y=abc,y,=3,y=-1,*=6") << "x=2 y=6";
    }

    // Through loggers of the real dispatcher, so not attaching shows as the default level 7.
    void dispatcherLevels()
    {
        QFETCH(QByteArray, rules);
        QFETCH(QString, levels);
        setEnvironment("VEXO_LOG_LEVELS", rules);
        ControllerScope scope;
        QStringList seen;
        for (const QString& entry : levels.split(' ')) {
            const QString name = entry.section('=', 0, 0);
            seen << name + '=' + QString::number(Logging::instance()->getLogger(name.toUtf8().constData())->level());
        }
        QCOMPARE(seen.join(' '), levels);
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
