// What the library tells a logging dispatcher: the logging singleton, and
// VexoDisplayQt4Init / VexoDisplayQt4Deinit, against the recording dispatcher. This
// program lives in the test installation whose lib/ holds that dispatcher, so the
// singleton finds it as the library finds the real one. Its own definitions of the
// runtime init functions take precedence over the runtime libraries' and forward to
// them, writing into the same journal, so the order of all of it is one list.

#include "FrameTestSupport.h"

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

#include <set>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

namespace {

void forward(const char* name)
{
    recording_dispatcher::note(name);
    if (auto real = reinterpret_cast<void (*)()>(::dlsym(RTLD_NEXT, name)))
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

using ControllerScope = ControllerScopeOf<LibraryInitController>;

QStringList journal()
{
    QStringList lines;
    for (const std::string& entry : recording_dispatcher::journal())
        lines << QString::fromStdString(entry);
    return lines;
}

unsigned long kernelThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

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

    void cleanup() // every use count back to 0, and every singleton went away again
    {
        QCOMPARE((QVector<unsigned>{LibraryInitController::useCount(), VexoCoreUseCount(), VexoDisplayUseCount(),
                                    recording_dispatcher::client() != nullptr}),
                 QVector<unsigned>(4, 0u));
    }

    // Each singleton attaches once, at creation, and detaches at destruction. Loggers are
    // per id, not per name: names sharing an id share one logger, whose level comes from
    // its first registration and after that from the dispatcher alone; a new singleton
    // starts from the registrations again. Messages go through whole, whatever the level:
    // the caller tests it, not log().
    void loggersPerId()
    {
        recording_dispatcher::assign("a", 7, 5);
        recording_dispatcher::assign("alias", 7, 3);
        recording_dispatcher::assign("b", 9, 6);
        QStringList expected;
        for (int round = 0; round < 2; ++round) {
            ControllerScope scope;
            Logging* logging = Logging::instance();
            QCOMPARE(recording_dispatcher::client(), static_cast<void*>(logging));
            Logger *a = logging->getLogger("a"), *b = logging->getLogger("b");
            QVERIFY(a != b && logging->getLogger("alias") == a && logging->isAttached());
            QCOMPARE((QVector<quint64>{a->id(), b->id(), a->level()}), (QVector<quint64>{7, 9, 5}));
            QVERIFY(recording_dispatcher::callSetLevel(7, 2) && recording_dispatcher::callSetLevel(12345, 0)); // unknown id: ignored
            QCOMPARE(logging->getLogger("a"), a); // registering again leaves the level alone
            QCOMPARE((QVector<quint64>{a->level(), b->level()}), (QVector<quint64>{2, 6}));
            a->log(3, "text with | and spaces", 17, 0xbeef);
            b->log(0, "below the level", 0, 0);
            expected << "attach" << "register a" << "register b" << "register alias" << "register a"
                     << "log 7 3 text with | and spaces 17 48879" << "log 9 0 below the level 0 0";
            QCOMPARE(journal(), expected);
            expected << "detach";
        }
        QCOMPARE(journal(), expected);
    }

    void disconnectStopsEverything()
    {
        recording_dispatcher::assign("a", 4, 1);
        {
            ControllerScope scope;
            Logging* logging = Logging::instance();
            Logger* a = logging->getLogger("a");
            QVERIFY(recording_dispatcher::callDisconnect() && !logging->isAttached());
            a->log(2, "after the disconnect", 0, 0); // still a valid object
            Logger* defaultLogger = logging->getLogger("c");
            QCOMPARE((QVector<quint64>{defaultLogger->id(), defaultLogger->level()}), (QVector<quint64>{0, 7}));
            QCOMPARE(logging->getLogger("a"), defaultLogger); // every name, known or not
            defaultLogger->log(7, "dropped", 0, 0);
            recording_dispatcher::note("last release");
        }
        // A dispatcher that said goodbye is not detached again. Late callbacks find no
        // singleton and must not build one (which would attach).
        QVERIFY(recording_dispatcher::callSetLevel(4, 0) && recording_dispatcher::callDisconnect());
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
        runTogether(loggerThreads + 1, [&](int t) {
            for (int i = 0; i < rounds && t == loggerThreads; ++i)
                recording_dispatcher::callSetLevel(1 + i % 2, i % 2 ? 7 : 0);
            for (int i = 0; i < rounds && t < loggerThreads; ++i) {
                Logger* logger = Logging::instance()->getLogger((i + t) % 2 ? "a" : "b");
                if (logger->isEnabled(3))
                    logger->log(3, "racing", 0, 0), ++logged;
            }
            if (t == loggerThreads)
                recording_dispatcher::callDisconnect();
        });
        QVERIFY(!Logging::instance()->isAttached() && Logging::instance()->getLogger("a")->id() == 0);
        // A message may meet the disconnect, not more.
        QVERIFY(journal().filter(QRegularExpression("^log ")).size() <= logged.load());
        recording_dispatcher::forgetClient();
    }

    // Steps: "I" VexoDisplayQt4Init, "D" VexoDisplayQt4Deinit, "@" on a thread of its
    // own. After each step the journal gets "|<controller>/<core>/<display use count>".
    // Expected: "INITn@t"/"DEINITn@t" is guard.library's line with use count n from the
    // step thread t (0 the main thread, then in order), "+"/"-" the runtime inits/deinits.
    void initDeinitJournal_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<uint>("level"); // guard.library's
        QTest::addColumn<QString>("expected");
        QTest::newRow("two inits, two deinits: the first only counts down") << "I I D D" << 2u
            << "attach reg INIT1@0 + |1/1/1 reg INIT2@0 + |2/2/2 reg DEINIT2@0 |1/2/2 reg DEINIT1@0 - - detach |0/0/0";
        QTest::newRow("the same with guard.library quiet") << "I I D D" << 3u
            << "attach reg + |1/1/1 reg + |2/2/2 reg |1/2/2 reg - - detach |0/0/0";
        QTest::newRow("a full deinit, then it all starts over") << "I D I D" << 2u
            << "attach reg INIT1@0 + |1/1/1 reg DEINIT1@0 - detach |0/0/0"
               " attach reg INIT1@0 + |1/1/1 reg DEINIT1@0 - detach |0/0/0";
        QTest::newRow("the lines name the calling thread") << "I@ D@" << 2u
            << "attach reg INIT1@1 + |1/1/1 reg DEINIT1@2 - detach |0/0/0";
    }

    void initDeinitJournal()
    {
        QFETCH(QString, steps);
        QFETCH(uint, level);
        QFETCH(QString, expected);
        recording_dispatcher::assign("guard.library", 9, level);
        QVector<unsigned long> threads{kernelThreadId()};
        for (const QString& step : steps.split(' ')) {
            void (*call)() = step.startsWith('I') ? &VexoDisplayQt4Init : &VexoDisplayQt4Deinit;
            step.endsWith('@') ? std::thread([&] { threads << kernelThreadId(), call(); }).join() : call();
            // Each init registers the icons again; the last deinit takes them away.
            if (step.startsWith('I'))
                QCOMPARE(QImage(icon).size(), QSize(16, 16));
            else if (LibraryInitController::useCount() == 0)
                QVERIFY(!QFile::exists(icon));
            const QString counts = QStringLiteral("|%1/%2/%3").arg(LibraryInitController::useCount());
            recording_dispatcher::note(counts.arg(VexoCoreUseCount()).arg(VexoDisplayUseCount()).toStdString());
        }
        QCOMPARE(std::set<unsigned long>(threads.begin(), threads.end()).size(), std::size_t(threads.size()));
        const QRegularExpression libraryLine(
            "^log 9 2 thread-id=(\\d+)\\|LIBRARY ((?:DE)?INIT): VexoDisplayQt4 \\(useCount: (\\d+)\\) 0 0$");
        QStringList seen;
        for (const QString& entry : journal()) {
            const QRegularExpressionMatch line = libraryLine.match(entry);
            const int thread = threads.indexOf(line.captured(1).toULong());
            seen << (line.hasMatch() ? QStringLiteral("%1%2@%3").arg(line.captured(2), line.captured(3)).arg(thread) : entry);
        }
        QCOMPARE(seen.join(' ')
                     .replace("VexoCoreInit VexoDisplayInit", "+")
                     .replace("VexoCoreDeinit VexoDisplayDeinit", "-")
                     .replace("register guard.library", "reg"),
                 expected);
    }
};

QTEST_GUILESS_MAIN(TestLoggingDispatch)
#include "tst_logging_dispatch.moc"
