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

using vexo::tools::logging::DynamicLibrary;
using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;
namespace logging = vexo::tools::logging;

namespace {

using ControllerScope = ControllerScopeOf<LibraryInitController>;

// A null value unsets; init() unsets all that the cases set, so each case starts from none.
void setEnvironment(const char* name, const QByteArray& value) { value.isNull() ? qunsetenv(name) : qputenv(name, value); }

// The path functions get buffers this much longer than they may use; the tail must stay 'x'.
struct PathBuffer : std::vector<char>
{
    PathBuffer() : std::vector<char>(logging::installationPathSize + 16, 'x') {}
    bool tailUntouched() const
    {
        return std::all_of(begin() + logging::installationPathSize, end(), [](char c) { return c == 'x'; });
    }
};

const char* const dispatcherName = "common-logging-dispatcher";

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        for (const char* name : {"VEXODIR5_64", "VEXODIR5", "VEXO_LOG_FILE", "VEXO_LOG_LEVELS"})
            qunsetenv(name);
    }

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
        fromPath("lib", "/opt/vexo/lib/libvexo-lib-display-qt4.so", "/opt/vexo");
        fromPath("letter case ignored, with a blank, one level down", "/srv/rt/hardware APPLETS/Tools/x.so", "/srv/rt");
        fromPath("the nearest marker counts", "/opt/vexo/lib/plugins/bin/x.so", "/opt/vexo/lib/plugins");
        fromPath("repeated separators", "/opt//vexo//lib//x.so", "/opt//vexo");
        fromPath("marker below the root", "/lib/x.so", "");
        fromPath("relative, marker with a parent", "./bin/x", ".");
        fromPath("the file's own name is no directory", "/opt/vexo/lib", none);
        fromPath("names that only look alike", "/opt/libs/binary/lib32/x.so", none);
        fromPath("file at the root", "/x.so", none);
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
        PathBuffer buffer;
        const bool found = logging::findInstallationDirectory(modulePath.isNull() ? nullptr : modulePath.constData(), buffer.data());
        QCOMPARE(found ? QByteArray(buffer.data()) : QByteArray(), expected);
        QVERIFY(buffer.tailUntouched());
    }

    void loadingInstalledLibraries()
    {
        // The path must fit the buffer with its terminator: exactly full, then one too many.
        const QByteArray fixed = QByteArray("/lib/lib") + dispatcherName + ".so";
        for (const int extra : {0, 1}) {
            const QByteArray directory(int(logging::installationPathSize) - 1 - fixed.size() + extra, 'd');
            PathBuffer buffer;
            const bool fits = logging::installedLibraryPath(dispatcherName, directory.constData(), buffer.data());
            QCOMPARE(fits ? QByteArray(buffer.data()) : QByteArray(), extra ? QByteArray() : directory + fixed);
            QVERIFY(buffer.tailUntouched() && (fits || !logging::loadInstalledLibrary(dispatcherName, directory.constData())));
        }
        QTemporaryDir empty;
        const QByteArray emptyPath = QFile::encodeName(empty.path());
        QVERIFY(!logging::loadInstalledLibrary(dispatcherName, emptyPath.constData()));
        DynamicLibrary missing(emptyPath.toStdString() + "/lib/libnothing.so", false);
        QVERIFY(!missing.load() && !missing.handle());
        QVERIFY2(QString::fromStdString(missing.errorText()).contains("libnothing.so"), missing.errorText().c_str());

        std::unique_ptr<DynamicLibrary> withoutExport(logging::loadInstalledLibrary(dispatcherName, NO_EXPORT_INSTALLATION));
        QVERIFY(withoutExport && withoutExport->errorText().empty());
        QVERIFY(!withoutExport->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL) && withoutExport->symbol("logging_dispatcher_version"));

        std::unique_ptr<DynamicLibrary> real(logging::loadInstalledLibrary(dispatcherName, REAL_DISPATCHER_INSTALLATION));
        QVERIFY(real && !real->ownsHandle() && real->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
        QCOMPARE(real->path(), std::string(REAL_DISPATCHER_INSTALLATION "/lib/libcommon-logging-dispatcher.so"));

        // Never unloaded by us: the libraries outlive the objects that loaded them.
        const std::string withoutExportPath = withoutExport->path();
        withoutExport.reset();
        void* handle = ::dlopen(withoutExportPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(handle && ::dlclose(handle) == 0); // drops only the reference taken just now
    }

    void loggerSwitches_data()
    {
        QTest::addColumn<uint>("loggerLevel");
        QTest::addColumn<uint>("messageLevel");
        QTest::addColumn<bool>("threadOff"); // on this thread only
        QTest::addColumn<bool>("enabled");
        QTest::newRow("top to a logger of top") << 0xffffffffu << 0xffffffffu << false << true;
        QTest::newRow("7 to a logger of top") << 0xffffffffu << 7u << false << false;
        QTest::newRow("thread off: 0 to a logger of 0") << 0u << 0u << true << false;
    }

    void loggerSwitches()
    {
        QFETCH(uint, loggerLevel);
        QFETCH(uint, messageLevel);
        QFETCH(bool, threadOff);
        QFETCH(bool, enabled);
        const bool levelPasses = enabled || threadOff; // the thread-off rows are at levels that pass
        Logger logger(1, loggerLevel);
        const bool wasOn = logger.setThreadEnabled(!threadOff), here = logger.isEnabled(messageLevel);
        bool elsewhere = !levelPasses;
        std::thread([&] { elsewhere = logger.isEnabled(messageLevel); }).join();
        const bool wasOnAgain = logger.setThreadEnabled(true);
        QCOMPARE((QVector<bool>{wasOn, here, elsewhere, wasOnAgain, logger.isEnabled(messageLevel)}),
                 (QVector<bool>{true, enabled, levelPasses, !threadOff, levelPasses}));
    }

    // First to register with the dispatcher, so that its first and last ids both log.
    // Messages from threads at once come out as whole lines.
    void dispatcherFile()
    {
        constexpr int threadCount = 4, messages = 250;
        QTemporaryDir folder;
        QFile file(folder.filePath("log.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("earlier line\n") > 0);
        file.close();
        setEnvironment("VEXO_LOG_FILE", QFile::encodeName(file.fileName()));
        setEnvironment("VEXO_LOG_LEVELS", "t.write=0,t.quiet=5,*=0");
        QStringList expected{"[3 notice] t.write: hello", "[2 info] t.write: two\\nlines\\r", "[8] t.write: beyond fatal",
                             "[5 error] t.quiet: at the logger's level"};
        {
            ControllerScope scope;
            Logger* write = Logging::instance()->getLogger("t.write");
            Logger* quiet = Logging::instance()->getLogger("t.quiet");
            QCOMPARE(write->id(), quint64(1));
            QVERIFY(Logging::instance()->getLogger("t.write") == write && quiet->id() != write->id()); // one logger per name
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
        for (int t = 0; t < threadCount; ++t)
            for (int i = 0; i < messages; ++i)
                expected << QStringLiteral("[2 info] t.%1: thread %2 message %3").arg(i % 2 ? "odd" : "even").arg(t).arg(i);

        QVERIFY(file.open(QIODevice::ReadOnly));
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
        QTest::addColumn<QString>("logger");
        QTest::addColumn<uint>("level");
        QTest::newRow("unset: warning") << QByteArray() << "guard.library" << 4u;
        QTest::newRow("named") << QByteArray("guard.library=2,*=5") << "guard.library" << 2u;
        QTest::newRow("everyone else") << QByteArray("guard.library=2,*=5") << "vexo.core.Qt4DisplaySceneVisualizer" << 5u;
        QTest::newRow("prefix") << QByteArray("vexo.core.*=1,*=6") << "vexo.core.Qt4DisplaySceneVisualizer" << 1u;
        QTest::newRow("prefix stops at the dot") << QByteArray("vexo.core.*=1,*=6") << "vexo.corex" << 6u;
        QTest::newRow("prefix does not cover its own stem") << QByteArray("vexo.core.*=1") << "vexo.core" << 4u;
        QTest::newRow("exact beats an earlier prefix") << QByteArray("guard.*=1,guard.library=3") << "guard.library" << 3u;
        QTest::newRow("exact beats a later prefix") << QByteArray("guard.library=3,guard.*=1") << "guard.library" << 3u;
        QTest::newRow("longer prefix wins") << QByteArray("a.b.*=2,a.*=1") << "a.b.c" << 2u;
        QTest::newRow("shorter prefix where the longer does not fit") << QByteArray("a.b.*=2,a.*=1") << "a.c" << 1u;
        QTest::newRow("later rule wins") << QByteArray("x=1,x=3") << "x" << 3u;
        QTest::newRow("blanks allowed") << QByteArray(" x = 2 , *=6") << "x" << 2u;
        QTest::newRow("broken rules skipped") << QByteArray("y=abc,y,=3,y=-1,*=6") << "y" << 6u;
        QTest::newRow("level above fatal silences") << QByteArray("quiet=8") << "quiet" << 8u;
    }

    // Through a logger of the real dispatcher, so not attaching shows as the default level 7.
    void dispatcherLevels()
    {
        QFETCH(QByteArray, rules);
        QFETCH(QString, logger);
        QFETCH(uint, level);
        setEnvironment("VEXO_LOG_LEVELS", rules);
        ControllerScope scope;
        QCOMPARE(Logging::instance()->getLogger(logger.toUtf8().constData())->level(), level);
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
