// Logging under bad conditions: no dispatcher, a dispatcher without its export, and the
// library brought up and down from several threads at once. Nothing may crash or hang,
// the use count comes back to zero, and logging works normally afterwards. This program
// lives beside the recording dispatcher; the rows without a usable one run copies of it
// installed with no dispatcher and with one lacking the export.

#include "FrameTestSupport.h"

#include "frame/InstallationDirectory.h"
#include "frame/LibraryInitController.h"
#include "frame/Logger.h"
#include "frame/Logging.h"
#include "frame/VexoDisplayQt4.h"

#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <dlfcn.h>

using vexo::tools::logging::Logging;

namespace {

QString installationPath()
{
    return QFileInfo(QString::fromLocal8Bit(vexo::tools::logging::installationDirectory())).canonicalFilePath();
}

// Eight threads fetch loggers and log; when `cycling`, each brings the library up and
// down around every message (nested pairs too), else it is up once around them all.
void logFromManyThreads(bool cycling)
{
    if (!cycling)
        VexoDisplayQt4Init();
    runTogether(8, [cycling](int t) {
        static const char* const names[] = {"reliability.a", "reliability.b", "guard.library"};
        for (int i = 0; i < 100; ++i) {
            if (cycling)
                VexoDisplayQt4Init();
            auto* logger = Logging::instance()->getLogger(names[(i + t) % 3]);
            if (logger->isEnabled(3))
                logger->log(3, "message from a worker", std::uint32_t(t), std::uintptr_t(i));
            if (cycling && i % 3 == 0)
                VexoDisplayQt4Init(), VexoDisplayQt4Deinit();
            if (cycling)
                VexoDisplayQt4Deinit();
        }
    });
    if (!cycling)
        VexoDisplayQt4Deinit();
}

// In an installation without a usable dispatcher the library comes up again unattached,
// with one default logger for every name; a library that offered no descriptor stays loaded.
int loggingChild(const char* scenario)
{
    logFromManyThreads(std::strcmp(scenario, "initDeinit") == 0);
    VexoDisplayQt4Init();
    auto* logger = Logging::instance()->getLogger("reliability.after");
    logger->log(7, "goes nowhere", 0, 0);
    const QByteArray library = QFile::encodeName(installationPath()) + "/lib/libcommon-logging-dispatcher.so";
    void* handle = ::dlopen(library.constData(), RTLD_NOW | RTLD_NOLOAD);
    std::printf("%s attached=%d id=%llu level=%u shared=%d loaded=%s\n", qPrintable(installationPath()),
                int(Logging::instance()->isAttached()), static_cast<unsigned long long>(logger->id()), logger->level(),
                int(logger == Logging::instance()->getLogger("guard.library")),
                handle ? "yes" : QFile::exists(library) ? "no" : "absent");
    if (handle)
        ::dlclose(handle);
    VexoDisplayQt4Deinit();
    std::printf("useCount=%u\n", LibraryInitController::useCount());
    return 0;
}

int inJournal(const std::string& entry)
{
    const std::vector<std::string> journal = recording_dispatcher::journal();
    return int(std::count(journal.begin(), journal.end(), entry));
}

} // namespace

class TestBadLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(installationPath(), QFileInfo(QStringLiteral(RECORDING_INSTALLATION)).canonicalFilePath()); }

    void logging_data()
    {
        QTest::addColumn<QString>("installation"); // empty: this process, with the recording dispatcher
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("loaded");
        QTest::newRow("no dispatcher, messages from many threads") << EMPTY_INSTALLATION << "messages" << "absent";
        QTest::newRow("dispatcher without the export, init and deinit from many threads")
            << NO_EXPORT_INSTALLATION << "initDeinit" << "yes";
        QTest::newRow("init and deinit from many threads, dispatcher attached") << "" << "initDeinit" << "";
    }

    void logging()
    {
        QFETCH(QString, installation);
        QFETCH(QString, scenario);
        QFETCH(QString, loaded);
        if (!installation.isEmpty()) {
            QProcess child;
            child.start(installation + QStringLiteral("/bin/tst_bad_logging"), {"--logging-child", scenario});
            QVERIFY2(child.waitForFinished(60000), "the child hangs");
            QVERIFY(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0);
            QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QFileInfo(installation).canonicalFilePath()
                         + " attached=0 id=0 level=7 shared=1 loaded=" + loaded + "\nuseCount=0\n");
            return;
        }
        recording_dispatcher::reset();
        logFromManyThreads(true);
        // Every singleton that attached also detached.
        QVERIFY(inJournal("attach") > 0 && inJournal("attach") == inJournal("detach"));
        QVERIFY(!recording_dispatcher::client() && LibraryInitController::useCount() == 0);
        // A new bring-up attaches again and a message goes through.
        recording_dispatcher::reset();
        recording_dispatcher::assign("reliability.after", 9, 0);
        VexoDisplayQt4Init();
        QVERIFY(Logging::instance()->isAttached());
        Logging::instance()->getLogger("reliability.after")->log(1, "after", 2, 3);
        VexoDisplayQt4Deinit();
        QCOMPARE(inJournal("log 9 1 after 2 3"), 1);
        QVERIFY(!recording_dispatcher::client() && LibraryInitController::useCount() == 0);
    }
};

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
