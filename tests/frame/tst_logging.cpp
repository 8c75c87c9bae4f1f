// Logging in the build tree: the installation search, loading installed libraries, the
// loggers' level and thread switches, and the real dispatcher (this program lives in
// <build>/bin, so its installation is <build> and <build>/lib holds the dispatcher).

#include "ProbeThread.h"
#include "ScopedEnvironment.h"

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
#include <set>
#include <vector>

using vexo::tools::logging::DynamicLibrary;
using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;
namespace logging = vexo::tools::logging;

namespace {

// Singletons created inside the scope are destroyed at its end, so each case starts
// with a fresh logging singleton that attaches to the dispatcher anew.
struct ControllerScope
{
    ControllerScope() { LibraryInitController::acquire(); }
    ~ControllerScope() { LibraryInitController::release(); }
};

QStringList fileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The message of "<date> <time>.<ms> [<level> <name>] <logger>: <message>".
QString messageOf(const QString& line, const QString& levelAndName, const QString& logger)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\[%1\\] %2: (.*)$")
                               .arg(QRegularExpression::escape(levelAndName), QRegularExpression::escape(logger)))
            .match(line);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("<no match: %1>").arg(line);
}

// The buffers handed to the path functions are this much longer than they may use; the
// tail must stay untouched.
constexpr std::size_t slack = 16;

bool tailUntouched(const std::vector<char>& buffer)
{
    return std::all_of(buffer.begin() + logging::installationPathSize, buffer.end(), [](char c) { return c == 'x'; });
}

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
        fromPath("lib", "/opt/vexo/lib/libvexo-lib-display-qt4.so", "/opt/vexo");
        fromPath("bin", "/opt/vexo/bin/viewer", "/opt/vexo");
        fromPath("dll", "/opt/vexo/dll/x.so", "/opt/vexo");
        fromPath("lib64", "/opt/vexo/lib64/x.so", "/opt/vexo");
        fromPath("Hardware Applets, one more level down", "/opt/vexo/Hardware Applets/Tools/x.so", "/opt/vexo");
        fromPath("letter case ignored, with a blank", "/srv/rt/hardware APPLETS/x.so", "/srv/rt");
        fromPath("the nearest marker counts", "/opt/vexo/lib/plugins/bin/x.so", "/opt/vexo/lib/plugins");
        fromPath("repeated separators", "/opt//vexo//lib//x.so", "/opt//vexo");
        fromPath("marker below the root", "/lib/x.so", "");
        fromPath("relative, marker with a parent", "./bin/x", ".");
        fromPath("the file's own name is no directory", "/opt/vexo/lib", none);
        fromPath("names that only look alike", "/opt/libs/binary/lib32/x.so", none);
        fromPath("no marker", "/usr/local/share/x.so", none);
        fromPath("file at the root", "/x.so", none);
        fromPath("no separator", "x.so", none);
        fromPath("relative marker without a parent", "lib/x.so", none);

        QTest::newRow("module path first") << QByteArray("/opt/vexo/lib/x.so") << QByteArray("/e64") << QByteArray("/e") << QByteArray("/opt/vexo");
        QTest::newRow("VEXODIR5_64 before VEXODIR5") << QByteArray("/usr/x.so") << QByteArray("/e64") << QByteArray("/e") << QByteArray("/e64");
        QTest::newRow("VEXODIR5 alone, trailing separators removed") << none << none << QByteArray("/runtime//") << QByteArray("/runtime");
        QTest::newRow("VEXODIR5_64 alone") << QByteArray("x.so") << QByteArray("/e64/") << none << QByteArray("/e64");
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
        ScopedEnvironment environment;
        environment.set("VEXODIR5_64", vexodir64);
        environment.set("VEXODIR5", vexodir);

        std::vector<char> buffer(logging::installationPathSize + slack, 'x');
        const bool found = logging::findInstallationDirectory(modulePath.isNull() ? nullptr : modulePath.constData(),
                                                              buffer.data());
        QCOMPARE(found, !expected.isNull());
        if (found)
            QCOMPARE(QByteArray(buffer.data()), expected);
        QVERIFY(tailUntouched(buffer));
    }

    void ownInstallationIsTheBuildTree()
    {
        // The environment must not matter while the module path yields a directory.
        ScopedEnvironment environment;
        environment.set("VEXODIR5_64", "/elsewhere");
        const char* directory = logging::installationDirectory();
        QVERIFY(directory);
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(directory)).canonicalFilePath(),
                 QFileInfo(QCoreApplication::applicationDirPath() + "/..").canonicalFilePath());
        QCOMPARE(logging::installationDirectory(), directory); // kept
    }

    void installedLibraryPath_data()
    {
        QTest::addColumn<QByteArray>("directory");
        QTest::addColumn<QByteArray>("expected"); // null: does not fit
        const QByteArray fixed = "/lib/libcommon-logging-dispatcher.so";
        const int room = int(logging::installationPathSize) - 1 - fixed.size();
        QTest::newRow("installation") << QByteArray("/opt/vexo") << QByteArray("/opt/vexo" + fixed);
        QTest::newRow("root") << QByteArray("") << fixed;
        QTest::newRow("exactly fills the buffer") << QByteArray(room, 'd') << QByteArray(room, 'd') + fixed;
        QTest::newRow("one character too many") << QByteArray(room + 1, 'd') << QByteArray();
        QTest::newRow("far too long") << QByteArray(5000, 'd') << QByteArray();
    }

    void installedLibraryPath()
    {
        QFETCH(QByteArray, directory);
        QFETCH(QByteArray, expected);
        std::vector<char> buffer(logging::installationPathSize + slack, 'x');
        const bool fits = logging::installedLibraryPath("common-logging-dispatcher", directory.constData(), buffer.data());
        QCOMPARE(fits, !expected.isNull());
        if (fits)
            QCOMPARE(QByteArray(buffer.data()), expected);
        QVERIFY(tailUntouched(buffer));
        if (!fits)
            QVERIFY(!logging::loadInstalledLibrary("common-logging-dispatcher", directory.constData()));
    }

    void loadingInstalledLibraries()
    {
        const QByteArray buildTree = QFile::encodeName(QStringLiteral(REAL_DISPATCHER_INSTALLATION));
        const QByteArray noExportTree = QFile::encodeName(QStringLiteral(NO_EXPORT_INSTALLATION));

        QTemporaryDir empty;
        QVERIFY(empty.isValid());
        QVERIFY(!logging::loadInstalledLibrary("common-logging-dispatcher", QFile::encodeName(empty.path()).constData()));

        DynamicLibrary missing(QFile::encodeName(empty.path()).toStdString() + "/lib/libnothing.so", false);
        QVERIFY(!missing.load());
        QVERIFY(!missing.handle());
        QVERIFY2(QString::fromStdString(missing.errorText()).contains("libnothing.so"), missing.errorText().c_str());

        std::unique_ptr<DynamicLibrary> withoutExport(
            logging::loadInstalledLibrary("common-logging-dispatcher", noExportTree.constData()));
        QVERIFY(withoutExport);
        QVERIFY(withoutExport->errorText().empty());
        QVERIFY(!withoutExport->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));
        QVERIFY(withoutExport->symbol("logging_dispatcher_version")); // loaded all right

        std::unique_ptr<DynamicLibrary> real(logging::loadInstalledLibrary("common-logging-dispatcher", buildTree.constData()));
        QVERIFY(real);
        QCOMPARE(QString::fromStdString(real->path()), QString(buildTree + "/lib/libcommon-logging-dispatcher.so"));
        QVERIFY(!real->ownsHandle());
        QVERIFY(real->symbol(LOGGING_DISPATCHER_DESCRIPTOR_SYMBOL));

        // Never unloaded by us: the libraries outlive the objects that loaded them.
        const QByteArray withoutExportPath = QFile::encodeName(QString::fromStdString(withoutExport->path()));
        withoutExport.reset();
        void* handle = ::dlopen(withoutExportPath.constData(), RTLD_NOW | RTLD_NOLOAD);
        QVERIFY(handle);
        ::dlclose(handle); // drops only the reference taken just now
    }

    void levelTest_data()
    {
        QTest::addColumn<uint>("loggerLevel");
        QTest::addColumn<uint>("messageLevel");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("2 to a logger of 7") << 7u << 2u << false;
        QTest::newRow("7 to a logger of 7") << 7u << 7u << true;
        QTest::newRow("8 to a logger of 7") << 7u << 8u << true;
        QTest::newRow("0 to a logger of 0") << 0u << 0u << true;
        QTest::newRow("2 to a logger of 3") << 3u << 2u << false;
        QTest::newRow("unsigned: top to a logger of top") << 0xffffffffu << 0xffffffffu << true;
        QTest::newRow("unsigned: 7 to a logger of top") << 0xffffffffu << 7u << false;
    }

    void levelTest()
    {
        QFETCH(uint, loggerLevel);
        QFETCH(uint, messageLevel);
        QFETCH(bool, enabled);
        Logger logger(3, loggerLevel);
        QCOMPARE(logger.isEnabled(messageLevel), enabled);
    }

    void threadSwitchOff()
    {
        Logger logger(1, 0);
        QCOMPARE(logger.setThreadEnabled(false), true); // was on
        QVERIFY(!logger.isEnabled(0));
        QVERIFY(!logger.isEnabled(0xffffffffu));

        bool otherThreadEnabled = false;
        std::thread([&] { otherThreadEnabled = logger.isEnabled(0); }).join();
        QVERIFY(otherThreadEnabled);

        QCOMPARE(logger.setThreadEnabled(false), false); // already off
        QCOMPARE(logger.setThreadEnabled(true), false);  // was off
        QVERIFY(logger.isEnabled(5));
        QCOMPARE(logger.setThreadEnabled(true), true);
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

    void dispatcherLevels()
    {
        QFETCH(QByteArray, rules);
        QFETCH(QString, logger);
        QFETCH(uint, level);
        ScopedEnvironment environment;
        environment.set("VEXO_LOG_LEVELS", rules);
        environment.set("VEXO_LOG_FILE", QByteArray());
        ControllerScope scope;

        Logging* logging = Logging::instance();
        QVERIFY(logging->isAttached());
        Logger* named = logging->getLogger(logger.toUtf8().constData());
        QVERIFY(named->id() != 0);
        QCOMPARE(named->level(), level);
        QCOMPARE(named->isEnabled(level), true);
        if (level > 0)
            QCOMPARE(named->isEnabled(level - 1), false);
    }

    void dispatcherWritesOneLinePerMessage()
    {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath("log.txt");
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("earlier line\n");
        }
        ScopedEnvironment environment;
        environment.set("VEXO_LOG_FILE", QFile::encodeName(path));
        environment.set("VEXO_LOG_LEVELS", "t.write=0,t.quiet=5");
        {
            ControllerScope scope;
            Logger* write = Logging::instance()->getLogger("t.write");
            Logger* quiet = Logging::instance()->getLogger("t.quiet");
            // One logger per name.
            QCOMPARE(Logging::instance()->getLogger("t.write"), write);
            QVERIFY(quiet != write && quiet->id() != write->id());
            write->log(3, "hello", 0, 0);
            write->log(2, "two\nlines\r", 0, 0);
            write->log(9, "beyond fatal", 0, 0);
            quiet->log(4, "below the logger's level", 0, 0); // the dispatcher tests again
            quiet->log(5, "at the logger's level", 0, 0);
        } // the last release detaches, which closes the file

        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[0], QStringLiteral("earlier line")); // appended, not replaced
        QCOMPARE(messageOf(lines[1], "3 notice", "t.write"), QStringLiteral("hello"));
        QCOMPARE(messageOf(lines[2], "2 info", "t.write"), QStringLiteral("two\\nlines\\r"));
        QCOMPARE(messageOf(lines[3], "9", "t.write"), QStringLiteral("beyond fatal"));
        QCOMPARE(messageOf(lines[4], "5 error", "t.quiet"), QStringLiteral("at the logger's level"));
    }

    void concurrentLogging()
    {
        constexpr int threadCount = 4, messages = 250;
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath("log.txt");
        ScopedEnvironment environment;
        environment.set("VEXO_LOG_FILE", QFile::encodeName(path));
        environment.set("VEXO_LOG_LEVELS", "*=0");
        {
            ControllerScope scope;
            Logging::instance();
            runTogether(threadCount, [](int t) {
                // Loggers are fetched concurrently too, by name each time.
                for (int i = 0; i < messages; ++i) {
                    Logger* logger = Logging::instance()->getLogger(i % 2 ? "t.odd" : "t.even");
                    if (logger->isEnabled(2))
                        logger->log(2, QStringLiteral("thread %1 message %2").arg(t).arg(i).toUtf8().constData(), 0, 0);
                }
            });
        }

        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), threadCount * messages);
        std::set<QString> seen;
        const QRegularExpression pattern("^\\S+ \\S+ \\[2 info\\] t\\.(odd|even): thread (\\d) message (\\d+)$");
        for (const QString& line : lines) {
            const QRegularExpressionMatch match = pattern.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QCOMPARE(match.captured(1) == "odd", match.captured(3).toInt() % 2 == 1);
            QVERIFY2(seen.insert(match.captured(2) + '/' + match.captured(3)).second, qPrintable(line));
        }
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
