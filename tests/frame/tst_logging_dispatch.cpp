// What the library tells a logging dispatcher: the logging singleton, and
// VexoDisplayQt4Init / VexoDisplayQt4Deinit, against the recording dispatcher. This
// program lives in the test installation whose lib/ holds that dispatcher, so the
// singleton finds it as the library finds the real one; copies of it live in
// installations without a dispatcher and with one lacking the export.

#include "FrameTestSupport.h"

#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-core/VexoCore.h"
#include "vexo-lib-display/VexoDisplay.h"

#include <QtTest>

#include <sys/syscall.h>
#include <unistd.h>

using vexo::tools::logging::Logger;
using vexo::tools::logging::Logging;

namespace {

using ControllerScope = ControllerScopeOf<LibraryInitController>;

QStringList journal()
{
    QStringList lines;
    for (const std::string& entry : recording_dispatcher::journal())
        lines << QString::fromStdString(entry);
    return lines;
}

const QString icon = QStringLiteral(":/display-qt4/stop.png");

// Eight threads fetch loggers and log, each bringing the library up and down around
// every message (nested pairs too), so singletons come and go under them unless the
// caller holds the library; a ninth thread runs `alongside`.
void cycleFromManyThreads(const std::function<void()>& alongside)
{
    runTogether(9, [&](int t) {
        static const char* const names[] = {"reliability.a", "reliability.b", "guard.library"};
        for (int i = 0; i < 100 && t < 8; ++i) {
            VexoDisplayQt4Init();
            Logger* logger = Logging::instance()->getLogger(names[(i + t) % 3]);
            if (logger->isEnabled(3))
                logger->log(3, "message from a worker", std::uint32_t(t), std::uintptr_t(i));
            if (i % 3 == 0)
                VexoDisplayQt4Init(), VexoDisplayQt4Deinit();
            VexoDisplayQt4Deinit();
        }
        if (t == 8 && alongside)
            alongside();
    });
}

} // namespace

class TestLoggingDispatch : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        recording_dispatcher::reset();
        recording_dispatcher::assign("guard.library", 9, 2);
    }

    // Loggers are per id, not per name: names sharing an id share one logger, whose level
    // comes from its first registration and after that from the dispatcher alone. Messages
    // go through whole, whatever the level: the caller tests it, not log(). After the
    // dispatcher's disconnect nothing reaches it, every name gets the default logger, and
    // it is not detached; late callbacks find no singleton and must not build one (which
    // would attach).
    void loggersPerIdUntilTheDisconnect()
    {
        recording_dispatcher::assign("a", 7, 5);
        recording_dispatcher::assign("alias", 7, 3);
        recording_dispatcher::assign("b", 8, 6);
        {
            ControllerScope scope;
            Logging* logging = Logging::instance();
            Logger *a = logging->getLogger("a"), *b = logging->getLogger("b");
            QVERIFY(a != b && logging->getLogger("alias") == a && logging->isAttached());
            QCOMPARE((QVector<quint64>{a->id(), b->id(), a->level()}), (QVector<quint64>{7, 8, 5}));
            QVERIFY(recording_dispatcher::callSetLevel(7, 2) && recording_dispatcher::callSetLevel(12345, 0)); // unknown id: ignored
            QVERIFY2(logging->getLogger("a") == a && a->level() == 2, "registering again changed the level");
            a->log(3, "text with | and spaces", 17, 0xbeef);
            b->log(0, "below the level", 0, 0);
            QVERIFY(recording_dispatcher::callDisconnect() && !logging->isAttached());
            a->log(2, "after the disconnect", 0, 0); // still a valid object
            QVERIFY(logging->getLogger("c") == logging->getLogger("a") && logging->getLogger("a") != a); // the default one
        }
        QVERIFY(recording_dispatcher::callSetLevel(7, 0) && recording_dispatcher::callDisconnect());
        QCOMPARE(journal(), (QStringList{"attach", "register a", "register b", "register alias", "register a",
                                         "log 7 3 text with | and spaces 17 48879", "log 8 0 below the level 0 0"}));
    }

    // Level changes and the disconnect arrive on the dispatcher's thread while others
    // fetch loggers and log; a ThreadSanitizer build checks the unlocked hand-overs.
    void callbacksRacingWithLoggers()
    {
        recording_dispatcher::assign("reliability.a", 1, 0);
        recording_dispatcher::assign("reliability.b", 2, 0);
        ControllerScope scope; // keeps the singleton while the threads bring the library up and down
        Logging::instance();
        cycleFromManyThreads([] {
            for (int i = 0; i < 300; ++i)
                recording_dispatcher::callSetLevel(1 + i % 2, i % 2 ? 7 : 0);
            recording_dispatcher::callDisconnect();
        });
    }

    // Two users, then one again: only the last deinit tears down and detaches; the next
    // init starts over, registering anew, so a level the dispatcher changed meanwhile
    // counts. After each step the journal gets "|<controller>/<core>/<display use
    // count>"; guard.library's lines become "INIT<n>"/"DEINIT<n>" with the count they tell.
    void initDeinitJournal()
    {
        for (const char step : std::string("IIDDqID")) {
            if (step == 'q')
                recording_dispatcher::assign("guard.library", 9, 3); // above the lines' level
            else
                step == 'I' ? VexoDisplayQt4Init() : VexoDisplayQt4Deinit();
            // Each init registers the icons again; the last deinit takes them away.
            QVERIFY(step == 'I' ? QFile::exists(icon) : LibraryInitController::useCount() > 0 || !QFile::exists(icon));
            const QString counts = QStringLiteral("|%1/%2/%3").arg(LibraryInitController::useCount());
            recording_dispatcher::note(counts.arg(VexoCoreUseCount()).arg(VexoDisplayUseCount()).toStdString());
        }
        const QRegularExpression libraryLine(
            QStringLiteral("log 9 2 thread-id=%1\\|LIBRARY ((?:DE)?INIT): VexoDisplayQt4 \\(useCount: (\\d+)\\) 0 0")
                .arg(::syscall(SYS_gettid)));
        QCOMPARE(journal().join(' ').replace(libraryLine, "\\1\\2").replace("register guard.library", "reg"),
                 QStringLiteral("attach reg INIT1 |1/1/1 reg INIT2 |2/2/2 reg DEINIT2 |1/2/2 reg DEINIT1 detach |0/0/0"
                                " |0/0/0 attach reg |1/1/1 reg detach |0/0/0"));
    }

    void bringUpAndDown_data()
    {
        QTest::addColumn<QString>("installation"); // empty: this one, with the recording dispatcher
        QTest::newRow("recording dispatcher") << QString();
        QTest::newRow("none") << QStringLiteral(EMPTY_INSTALLATION);
        QTest::newRow("one without the export") << QStringLiteral(NO_EXPORT_INSTALLATION);
    }

    // With many threads bringing the library up and down nothing crashes or hangs, and
    // every singleton that attached also detached. Then it comes up again: attached where
    // there is a usable dispatcher, else with one default logger for every name. Rows of
    // other installations run in the copy of this program there.
    void bringUpAndDown()
    {
        QFETCH(QString, installation);
        const QString copy = installation + "/bin/tst_logging_dispatch";
        if (!installation.isEmpty() && QFileInfo(copy).canonicalFilePath() != QCoreApplication::applicationFilePath()) {
            QProcess child;
            child.start(copy, {QStringLiteral("bringUpAndDown:") + QTest::currentDataTag()});
            QVERIFY2(child.waitForFinished(60000), "the copy hangs");
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, child.readAll().constData());
            return;
        }
        cycleFromManyThreads({});
        QCOMPARE(LibraryInitController::useCount(), 0u);
        VexoDisplayQt4Init();
        Logger* logger = Logging::instance()->getLogger("reliability.after");
        logger->log(7, "goes nowhere", 0, 0);
        const QVector<quint64> seen{Logging::instance()->isAttached(), logger->id(), logger->level(),
                                    logger == Logging::instance()->getLogger("guard.library")};
        VexoDisplayQt4Deinit();
        QCOMPARE(journal().count("attach"), journal().count("detach"));
        QCOMPARE(seen, (installation.isEmpty() ? QVector<quint64>{1, 0, 0, 0} : QVector<quint64>{0, 0, 7, 1}));
    }
};

QTEST_GUILESS_MAIN(TestLoggingDispatch)
#include "tst_logging_dispatch.moc"
