// What the library tells a logging dispatcher: the logging singleton, and
// VexoDisplayQt4Init / VexoDisplayQt4Deinit, against a dispatcher that records every call.
// This program is built into a test installation whose lib/ holds the recording
// dispatcher, so the singleton finds and attaches it exactly as the library finds the
// real one. Its own definitions of the runtime init functions (which take precedence over
// the runtime libraries' and forward to them) write into the same journal, so the order
// of all of it can be checked in one list.

#include "RecordingDispatcher.h"

#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-core/VexoCore.h"
#include "vexo-lib-display/VexoDisplay.h"

#include <QImage>
#include <QtTest>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

namespace {

void forward(const char* name)
{
    recording_dispatcher::note(name);
    auto real = reinterpret_cast<void (*)()>(::dlsym(RTLD_NEXT, name));
    if (real)
        real();
    else
        recording_dispatcher::note(std::string("missing ") + name);
}

} // namespace

extern "C" {
void VexoCoreInit() { forward("VexoCoreInit"); }
void VexoCoreDeinit() { forward("VexoCoreDeinit"); }
void VexoDisplayInit() { forward("VexoDisplayInit"); }
void VexoDisplayDeinit() { forward("VexoDisplayDeinit"); }
}

namespace {

// Singletons created inside the scope are destroyed at its end.
struct ControllerScope
{
    ControllerScope() { LibraryInitController::acquire(); }
    ~ControllerScope() { LibraryInitController::release(); }
};

QStringList journal()
{
    QStringList lines;
    for (const std::string& entry : recording_dispatcher::journal())
        lines << QString::fromStdString(entry);
    return lines;
}

// What the init functions log through guard.library (id 9).
QString logLine(const char* what, unsigned long threadId, int useCount)
{
    return QStringLiteral("log 9 2 thread-id=%1|LIBRARY %2: VexoDisplayQt4 (useCount: %3) 0 0")
        .arg(threadId)
        .arg(QLatin1String(what))
        .arg(useCount);
}

unsigned long kernelThreadId()
{
    return static_cast<unsigned long>(::syscall(SYS_gettid));
}

const QString icon = QStringLiteral(":/display-qt4/stop.png");

} // namespace

class TestLoggingDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Only meaningful from inside its installation.
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(vexo::tools::logging::installationDirectory())).canonicalFilePath(),
                 QFileInfo(QStringLiteral(RECORDING_INSTALLATION)).canonicalFilePath());
        QVERIFY(QFile::exists(icon)); // registered when the program was loaded
    }

    void init()
    {
        recording_dispatcher::reset();
        recording_dispatcher::assign("guard.library", 9, 2);
    }

    void cleanup()
    {
        QCOMPARE(LibraryInitController::useCount(), 0u);
        QCOMPARE(VexoCoreUseCount(), 0u);
        QCOMPARE(VexoDisplayUseCount(), 0u);
        QVERIFY(!recording_dispatcher::client()); // every singleton went away again
    }

    // Each singleton attaches once, at creation, and detaches at destruction; a new one
    // starts from the registrations, not from an old level change.
    void attachesOncePerSingleton()
    {
        recording_dispatcher::assign("a", 4, 6);
        for (int round = 0; round < 2; ++round) {
            ControllerScope scope;
            Logging* logging = Logging::instance();
            QCOMPARE(Logging::instance(), logging);
            QCOMPARE(journal().mid(3 * round), QStringList{"attach"});
            QVERIFY(logging->isAttached());
            QCOMPARE(recording_dispatcher::client(), static_cast<void*>(logging));
            Logger* a = logging->getLogger("a");
            QCOMPARE(a->level(), 6u);
            QVERIFY(recording_dispatcher::callSetLevel(4, 1));
            QCOMPARE(a->level(), 1u);
        }
        QCOMPARE(journal(), (QStringList{"attach", "register a", "detach", "attach", "register a", "detach"}));
    }

    // Loggers are per id, not per name: names sharing an id share one logger, whose level
    // comes from its first registration and after that from the dispatcher alone.
    void loggersPerId()
    {
        recording_dispatcher::assign("a", 7, 5);
        recording_dispatcher::assign("alias", 7, 3);
        recording_dispatcher::assign("b", 9, 6);
        ControllerScope scope;
        Logging* logging = Logging::instance();
        Logger* a = logging->getLogger("a");
        Logger* b = logging->getLogger("b");
        QVERIFY(a != b);
        QCOMPARE(a->id(), quint64(7));
        QCOMPARE(b->id(), quint64(9));
        QCOMPARE(b->level(), 6u);
        QCOMPARE(logging->getLogger("alias"), a);
        QCOMPARE(a->level(), 5u);
        QVERIFY(!a->isEnabled(4));

        QVERIFY(recording_dispatcher::callSetLevel(7, 2));
        QCOMPARE(a->level(), 2u);
        QVERIFY(a->isEnabled(2));
        QVERIFY(!a->isEnabled(1));
        QCOMPARE(b->level(), 6u); // the other did not change

        QVERIFY(recording_dispatcher::callSetLevel(12345, 0)); // unknown id: ignored
        QCOMPARE(a->level(), 2u);
        QCOMPARE(b->level(), 6u);

        // Registering a name again finds its logger and leaves the level alone.
        QCOMPARE(logging->getLogger("a"), a);
        QCOMPARE(a->level(), 2u);
        QCOMPARE(journal(), (QStringList{"attach", "register a", "register b", "register alias", "register a"}));
    }

    void logPassesEverythingThrough()
    {
        recording_dispatcher::assign("a", 4, 5);
        ControllerScope scope;
        Logger* a = Logging::instance()->getLogger("a");
        a->log(3, "text with | and spaces", 17, 0xbeef);
        a->log(0, "below the level: the caller tests, not log()", 0, 0);
        QCOMPARE(journal(), (QStringList{"attach", "register a", "log 4 3 text with | and spaces 17 48879",
                                         "log 4 0 below the level: the caller tests, not log() 0 0"}));
    }

    void disconnectStopsEverything()
    {
        recording_dispatcher::assign("a", 4, 1);
        {
            ControllerScope scope;
            Logging* logging = Logging::instance();
            Logger* a = logging->getLogger("a");
            QVERIFY(recording_dispatcher::callDisconnect());
            QVERIFY(!logging->isAttached());

            a->log(2, "after the disconnect", 0, 0);
            QVERIFY(a->isEnabled(2)); // still a valid object
            Logger* defaultLogger = logging->getLogger("c");
            QCOMPARE(defaultLogger->id(), quint64(0));
            QCOMPARE(defaultLogger->level(), 7u);
            QCOMPARE(logging->getLogger("a"), defaultLogger);
            defaultLogger->log(7, "dropped", 0, 0);
            QCOMPARE(journal(), (QStringList{"attach", "register a"}));
            recording_dispatcher::note("last release");
        }
        // A dispatcher that said goodbye is not detached again.
        QCOMPARE(journal(), (QStringList{"attach", "register a", "last release"}));

        // Late callbacks find no singleton and must not build one (which would attach).
        QVERIFY(recording_dispatcher::callSetLevel(4, 0));
        QVERIFY(recording_dispatcher::callDisconnect());
        QCOMPARE(journal(), (QStringList{"attach", "register a", "last release"}));
        recording_dispatcher::forgetClient();
    }

    // Level changes and the disconnect arrive on the dispatcher's thread while others
    // fetch loggers and log; a ThreadSanitizer build checks the unlocked hand-overs.
    void callbacksRacingWithLoggers()
    {
        constexpr int loggerThreads = 4, rounds = 300;
        recording_dispatcher::assign("a", 1, 0);
        recording_dispatcher::assign("b", 2, 0);
        ControllerScope scope;
        Logging::instance();
        std::atomic<int> logged{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < loggerThreads; ++t)
            threads.emplace_back([&, t] {
                for (int i = 0; i < rounds; ++i) {
                    Logger* logger = Logging::instance()->getLogger((i + t) % 2 ? "a" : "b");
                    if (logger->isEnabled(3)) {
                        logger->log(3, "racing", 0, 0);
                        ++logged;
                    }
                }
            });
        threads.emplace_back([&] {
            for (int i = 0; i < rounds; ++i)
                recording_dispatcher::callSetLevel(1 + i % 2, i % 2 ? 7 : 0);
            recording_dispatcher::callDisconnect();
        });
        for (std::thread& thread : threads)
            thread.join();

        QVERIFY(!Logging::instance()->isAttached());
        const int forwarded = journal().filter(QRegularExpression("^log ")).size();
        QVERIFY(forwarded <= logged.load()); // a message may meet the disconnect, not more
        QCOMPARE(Logging::instance()->getLogger("a")->id(), quint64(0));
        recording_dispatcher::forgetClient();
    }

    void twoInitsTwoDeinits_data()
    {
        QTest::addColumn<uint>("loggerLevel");
        QTest::newRow("guard.library at level 2: logged") << 2u;
        QTest::newRow("guard.library at level 3: quiet") << 3u;
    }

    void twoInitsTwoDeinits()
    {
        QFETCH(uint, loggerLevel);
        recording_dispatcher::assign("guard.library", 9, loggerLevel);
        const unsigned long id = kernelThreadId();

        VexoDisplayQt4Init();
        VexoDisplayQt4Init();
        QCOMPARE(VexoCoreUseCount(), 2u);
        QCOMPARE(VexoDisplayUseCount(), 2u);
        recording_dispatcher::note("two inits");
        VexoDisplayQt4Deinit();
        QCOMPARE(LibraryInitController::useCount(), 1u);
        QCOMPARE(VexoCoreUseCount(), 2u); // the first deinit only counts down
        recording_dispatcher::note("first deinit");
        VexoDisplayQt4Deinit();

        QStringList expected{"attach", "register guard.library", logLine("INIT", id, 1),
                             "VexoCoreInit", "VexoDisplayInit",
                             "register guard.library", logLine("INIT", id, 2),
                             "VexoCoreInit", "VexoDisplayInit", "two inits",
                             "register guard.library", logLine("DEINIT", id, 2), "first deinit",
                             "register guard.library", logLine("DEINIT", id, 1),
                             "VexoCoreDeinit", "VexoDisplayDeinit", "VexoCoreDeinit", "VexoDisplayDeinit",
                             "detach"};
        if (loggerLevel > 2)
            expected = expected.filter(QRegularExpression("^(?!log )"));
        QCOMPARE(journal(), expected);
    }

    // The last deinit tears everything down, the icons included; the next init builds
    // it all up again.
    void initAfterFullDeinitStartsOver()
    {
        const unsigned long id = kernelThreadId();
        VexoDisplayQt4Init();
        VexoDisplayQt4Deinit();
        QVERIFY(!QFile::exists(icon));
        recording_dispatcher::note("full deinit");
        VexoDisplayQt4Init();
        QVERIFY(QFile::exists(icon));
        QCOMPARE(QImage(icon).size(), QSize(16, 16));
        QCOMPARE(VexoCoreUseCount(), 1u);
        VexoDisplayQt4Deinit();

        const QStringList cycle{"attach", "register guard.library", logLine("INIT", id, 1),
                                "VexoCoreInit", "VexoDisplayInit",
                                "register guard.library", logLine("DEINIT", id, 1),
                                "VexoCoreDeinit", "VexoDisplayDeinit", "detach"};
        QCOMPARE(journal(), cycle + QStringList{"full deinit"} + cycle);
    }

    void linesNameTheCallingThread()
    {
        unsigned long initThread = 0, deinitThread = 0;
        std::thread([&] { initThread = kernelThreadId(); VexoDisplayQt4Init(); }).join();
        std::thread([&] { deinitThread = kernelThreadId(); VexoDisplayQt4Deinit(); }).join();
        QVERIFY(initThread != deinitThread);
        QCOMPARE(journal().filter(QRegularExpression("^log ")),
                 (QStringList{logLine("INIT", initThread, 1), logLine("DEINIT", deinitThread, 1)}));
    }
};

QTEST_GUILESS_MAIN(TestLoggingDispatch)
#include "tst_logging_dispatch.moc"
