// Logging under bad conditions: no dispatcher, a dispatcher without its export, a
// dispatcher that disconnects while many threads log, and the library brought up and
// down from several threads at once. Nothing may crash or hang, the use count must come
// back to zero, and logging works normally afterwards.
//
// This program lives in a test installation whose lib/ holds the recording dispatcher.
// The rows without a usable dispatcher run copies of it that live in installations with
// no dispatcher and with one lacking the export.

#include "RecordingDispatcher.h"

#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"
#include "frame/VexoDisplayQt4.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

namespace {

constexpr int threadCount = 8;

// Many threads fetch loggers and log while the library is up; `midway` runs on the
// calling thread once a good part of the messages is out.
int logFromManyThreads(const std::function<void()>& midway)
{
    constexpr int rounds = 400;
    VexoDisplayQt4Init();
    std::atomic<int> logged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([&logged, t] {
            static const char* const names[] = {"reliability.a", "reliability.b", "guard.library"};
            for (int i = 0; i < rounds; ++i) {
                Logger* logger = Logging::instance()->getLogger(names[(i + t) % 3]);
                if (logger->isEnabled(3))
                    logger->log(3, "message from a worker", std::uint32_t(t), std::uintptr_t(i));
                ++logged;
            }
        });
    while (logged.load() < threadCount * rounds / 4)
        std::this_thread::yield();
    if (midway)
        midway();
    for (std::thread& thread : threads)
        thread.join();
    VexoDisplayQt4Deinit();
    return logged.load();
}

// Threads bring the library up, log, and take it down again, all at once.
void initDeinitFromManyThreads()
{
    constexpr int rounds = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < rounds; ++i) {
                VexoDisplayQt4Init();
                Logger* logger = Logging::instance()->getLogger(t % 2 ? "reliability.a" : "guard.library");
                if (logger->isEnabled(3))
                    logger->log(3, "between init and deinit", 0, 0);
                if (i % 3 == 0) { // nested pairs too
                    VexoDisplayQt4Init();
                    VexoDisplayQt4Deinit();
                }
                VexoDisplayQt4Deinit();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
}

// The child's part, in an installation without a usable dispatcher.
int loggingChild(const char* scenario)
{
    if (std::strcmp(scenario, "messages") == 0)
        logFromManyThreads({});
    else
        initDeinitFromManyThreads();
    // Afterwards: up again, unattached, every name the default logger, and back to zero.
    VexoDisplayQt4Init();
    Logging* logging = Logging::instance();
    Logger* logger = logging->getLogger("reliability.after");
    logger->log(7, "goes nowhere", 0, 0);
    std::printf("installation=%s\n", qPrintable(QFileInfo(QString::fromLocal8Bit(
                                           vexo::tools::logging::installationDirectory())).canonicalFilePath()));
    std::printf("attached=%d id=%llu level=%u\n", logging->isAttached() ? 1 : 0,
                static_cast<unsigned long long>(logger->id()), logger->level());
    VexoDisplayQt4Deinit();
    std::printf("useCount=%u\n", LibraryInitController::useCount());
    std::fflush(stdout);
    return 0;
}

QStringList journal()
{
    QStringList lines;
    for (const std::string& entry : recording_dispatcher::journal())
        lines << QString::fromStdString(entry);
    return lines;
}

} // namespace

class TestBadLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void logging_data();
    void logging();
};

void TestBadLogging::initTestCase()
{
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(vexo::tools::logging::installationDirectory())).canonicalFilePath(),
             QFileInfo(QStringLiteral(RECORDING_INSTALLATION)).canonicalFilePath());
}

void TestBadLogging::logging_data()
{
    QTest::addColumn<QString>("installation"); // empty: this process, with the recording dispatcher
    QTest::addColumn<QString>("scenario");

    QTest::newRow("no dispatcher, messages from many threads") << EMPTY_INSTALLATION << "messages";
    QTest::newRow("no dispatcher, init and deinit from many threads") << EMPTY_INSTALLATION << "initDeinit";
    QTest::newRow("dispatcher without the export, messages from many threads") << NO_EXPORT_INSTALLATION << "messages";
    QTest::newRow("dispatcher without the export, init and deinit from many threads")
        << NO_EXPORT_INSTALLATION << "initDeinit";
    QTest::newRow("dispatcher disconnects during messages from many threads") << "" << "disconnect";
    QTest::newRow("init and deinit from many threads, dispatcher attached") << "" << "initDeinit";
}

void TestBadLogging::logging()
{
    QFETCH(QString, installation);
    QFETCH(QString, scenario);

    if (!installation.isEmpty()) {
        QProcess child;
        child.start(installation + QStringLiteral("/bin/tst_bad_logging"), {"--logging-child", scenario});
        QVERIFY2(child.waitForFinished(60000), "the child hangs");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines, (QStringList{"installation=" + QFileInfo(installation).canonicalFilePath(),
                                     "attached=0 id=0 level=7", "useCount=0"}));
        return;
    }

    recording_dispatcher::reset();
    if (scenario == "disconnect") {
        const int logged = logFromManyThreads([] { QVERIFY(recording_dispatcher::callDisconnect()); });
        // Only the workers' messages count; the init and deinit lines go out as well.
        const int forwarded = journal().filter(QRegularExpression("^log .*message from a worker")).size();
        QVERIFY(forwarded <= logged);
        QVERIFY(!journal().contains("detach")); // a dispatcher that said goodbye is not detached
        recording_dispatcher::forgetClient();
    } else {
        initDeinitFromManyThreads();
        // Every singleton that attached also detached.
        const QStringList lines = journal();
        QCOMPARE(lines.count("attach"), lines.count("detach"));
        QVERIFY(!recording_dispatcher::client());
    }
    QCOMPARE(LibraryInitController::useCount(), 0u);

    // Afterwards a new bring-up attaches again and a message goes through.
    recording_dispatcher::reset();
    recording_dispatcher::assign("reliability.after", 9, 0);
    VexoDisplayQt4Init();
    QVERIFY(Logging::instance()->isAttached());
    Logging::instance()->getLogger("reliability.after")->log(1, "after", 2, 3);
    VexoDisplayQt4Deinit();
    QVERIFY(journal().contains("log 9 1 after 2 3"));
    QCOMPARE(LibraryInitController::useCount(), 0u);
    QVERIFY(!recording_dispatcher::client());
}

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "--logging-child") == 0)
        return loggingChild(argv[2]);
    QCoreApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    TestBadLogging test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bad_logging.moc"
