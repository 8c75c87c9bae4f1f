// The logging singleton against a dispatcher that records what it is told. This program
// is built into a test installation whose lib/ holds the recording dispatcher, so the
// singleton finds and attaches it exactly as the library finds the real one.

#include "RecordingDispatcher.h"

#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"

#include <QtTest>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

namespace {

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

} // namespace

class TestLoggingDispatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void attachedAtCreationDetachedAtDestruction();
    void loggersArePerId_data();
    void loggersArePerId();
    void setLevelChangesTheLogger();
    void logPassesEverythingThrough();
    void disconnectStopsEverything();
    void newSingletonAfterDeinitAttachesAgain();
    void callbacksRacingWithLoggers();
};

void TestLoggingDispatch::initTestCase()
{
    // The test is only meaningful from inside its installation.
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(vexo::tools::logging::installationDirectory())).canonicalFilePath(),
             QFileInfo(QStringLiteral(RECORDING_INSTALLATION)).canonicalFilePath());
}

void TestLoggingDispatch::init()
{
    recording_dispatcher::reset();
}

void TestLoggingDispatch::cleanup()
{
    QCOMPARE(LibraryInitController::useCount(), 0u);
    QVERIFY(!recording_dispatcher::client()); // every singleton went away again
}

void TestLoggingDispatch::attachedAtCreationDetachedAtDestruction()
{
    {
        ControllerScope scope;
        Logging* logging = Logging::instance();
        QCOMPARE(journal(), QStringList{"attach"});
        QCOMPARE(recording_dispatcher::client(), static_cast<void*>(logging));
        QVERIFY(logging->isAttached());
        QCOMPARE(Logging::instance(), logging);
        QCOMPARE(journal(), QStringList{"attach"}); // once per singleton
    }
    QCOMPARE(journal(), (QStringList{"attach", "detach"}));
}

void TestLoggingDispatch::loggersArePerId_data()
{
    QTest::addColumn<quint64>("idA");
    QTest::addColumn<uint>("levelA");
    QTest::addColumn<quint64>("idB");
    QTest::addColumn<uint>("levelB");
    QTest::newRow("one id for two names: one logger, first level kept") << quint64(5) << 3u << quint64(5) << 6u;
    QTest::newRow("two ids: two loggers") << quint64(5) << 3u << quint64(8) << 6u;
}

void TestLoggingDispatch::loggersArePerId()
{
    QFETCH(quint64, idA);
    QFETCH(uint, levelA);
    QFETCH(quint64, idB);
    QFETCH(uint, levelB);
    recording_dispatcher::assign("a", idA, levelA);
    recording_dispatcher::assign("b", idB, levelB);
    ControllerScope scope;
    Logging* logging = Logging::instance();

    Logger* a = logging->getLogger("a");
    Logger* b = logging->getLogger("b");
    QCOMPARE(a->id(), idA);
    QCOMPARE(a->level(), levelA);
    QCOMPARE(a == b, idA == idB);
    QCOMPARE(b->id(), idB);
    QCOMPARE(b->level(), idA == idB ? levelA : levelB);
    QCOMPARE(logging->getLogger("a"), a);
    QCOMPARE(journal(), (QStringList{"attach", "register a", "register b", "register a"}));
}

void TestLoggingDispatch::setLevelChangesTheLogger()
{
    recording_dispatcher::assign("a", 7, 5);
    recording_dispatcher::assign("alias", 7, 5);
    recording_dispatcher::assign("b", 9, 5);
    ControllerScope scope;
    Logger* a = Logging::instance()->getLogger("a");
    Logger* b = Logging::instance()->getLogger("b");
    QVERIFY(!a->isEnabled(4));

    QVERIFY(recording_dispatcher::callSetLevel(7, 2));
    QCOMPARE(a->level(), 2u);
    QVERIFY(a->isEnabled(2));
    QVERIFY(!a->isEnabled(1));
    QCOMPARE(Logging::instance()->getLogger("alias"), a); // the shared logger changed
    QCOMPARE(b->level(), 5u);                             // the other did not

    QVERIFY(recording_dispatcher::callSetLevel(12345, 0)); // unknown id: ignored
    QCOMPARE(a->level(), 2u);
    QCOMPARE(b->level(), 5u);

    // A registration of an id already handed out leaves its level alone.
    recording_dispatcher::assign("a", 7, 6);
    QCOMPARE(Logging::instance()->getLogger("a")->level(), 2u);
}

void TestLoggingDispatch::logPassesEverythingThrough()
{
    recording_dispatcher::assign("a", 4, 5);
    ControllerScope scope;
    Logger* a = Logging::instance()->getLogger("a");
    a->log(3, "text with | and spaces", 17, 0xbeef);
    a->log(0, "below the level: the caller tests, not log()", 0, 0);
    QCOMPARE(journal(), (QStringList{"attach", "register a", "log 4 3 text with | and spaces 17 48879",
                                     "log 4 0 below the level: the caller tests, not log() 0 0"}));
}

void TestLoggingDispatch::disconnectStopsEverything()
{
    recording_dispatcher::assign("a", 4, 1);
    {
        ControllerScope scope;
        Logging* logging = Logging::instance();
        Logger* a = logging->getLogger("a");
        Logger* defaultLogger = nullptr;
        QVERIFY(recording_dispatcher::callDisconnect());
        QVERIFY(!logging->isAttached());

        a->log(2, "after the disconnect", 0, 0);
        QVERIFY(a->isEnabled(2)); // still a valid object
        defaultLogger = logging->getLogger("c");
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

void TestLoggingDispatch::newSingletonAfterDeinitAttachesAgain()
{
    recording_dispatcher::assign("a", 4, 6);
    {
        ControllerScope scope;
        Logging::instance()->getLogger("a");
        QVERIFY(recording_dispatcher::callSetLevel(4, 1));
    }
    {
        ControllerScope scope;
        Logging* second = Logging::instance();
        QVERIFY(second->isAttached());
        QCOMPARE(recording_dispatcher::client(), static_cast<void*>(second));
        // The new singleton's logger starts from the registration, not the old change.
        QCOMPARE(second->getLogger("a")->level(), 6u);
    }
    QCOMPARE(journal(), (QStringList{"attach", "register a", "detach", "attach", "register a", "detach"}));
}

// Level changes and the disconnect arrive on the dispatcher's thread while others fetch
// loggers and log; a ThreadSanitizer build checks the unlocked hand-overs.
void TestLoggingDispatch::callbacksRacingWithLoggers()
{
    constexpr int loggerThreads = 4, rounds = 300;
    recording_dispatcher::assign("a", 1, 0);
    recording_dispatcher::assign("b", 2, 0);
    ControllerScope scope;
    Logging::instance();
    std::atomic<int> logged{0};
    std::atomic<bool> disconnected{false};
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
        disconnected = true;
    });
    for (std::thread& thread : threads)
        thread.join();

    QVERIFY(disconnected);
    QVERIFY(!Logging::instance()->isAttached());
    const int forwarded = journal().filter(QRegularExpression("^log ")).size();
    QVERIFY(forwarded <= logged.load()); // a message may meet the disconnect, not more
    QCOMPARE(Logging::instance()->getLogger("a")->id(), quint64(0));
    recording_dispatcher::forgetClient();
}

QTEST_GUILESS_MAIN(TestLoggingDispatch)
#include "tst_logging_dispatch.moc"
