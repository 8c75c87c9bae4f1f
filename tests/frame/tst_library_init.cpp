// VexoDisplayQt4Init / VexoDisplayQt4Deinit. Built into the recording test installation:
// the recording dispatcher's journal shows the log calls, and this program's own
// definitions of the runtime init functions (which take precedence over the runtime
// libraries' and forward to them) write into the same journal, so the order of all of
// it can be checked in one list.

#include "RecordingDispatcher.h"

#include "frame/GuardedSingleton.h"
#include "frame/LibraryInitController.h"
#include "frame/VexoDisplayQt4.h"

#include "vexo-core/VexoCore.h"
#include "vexo-lib-display/VexoDisplay.h"

#include <QFile>
#include <QImage>
#include <QtTest>

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>
#include <thread>

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

QStringList journal()
{
    QStringList lines;
    for (const std::string& entry : recording_dispatcher::journal())
        lines << QString::fromStdString(entry);
    return lines;
}

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

class Survivor : public GuardedSingleton<Survivor>
{
public:
    static inline int destructions = 0;
    ~Survivor() override { ++destructions; }
};

class Casualty : public GuardedSingleton<Casualty>
{
public:
    static inline int destructions = 0;
    ~Casualty() override { ++destructions; }
};

const QString icon = QStringLiteral(":/display-qt4/stop.png");

} // namespace

class TestLibraryInit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void twoInitsTwoDeinits_data();
    void twoInitsTwoDeinits();
    void initAfterFullDeinitStartsOver();
    void linesNameTheCallingThread();
    void singletonFromBeforeTheFirstInitSurvives();
    void iconsAreRegisteredByInit();
};

void TestLibraryInit::initTestCase()
{
    QVERIFY(QFile::exists(icon)); // registered when the program was loaded
}

void TestLibraryInit::init()
{
    recording_dispatcher::reset();
    recording_dispatcher::assign("guard.library", 9, 2);
}

void TestLibraryInit::cleanup()
{
    QCOMPARE(LibraryInitController::useCount(), 0u);
    QCOMPARE(VexoCoreUseCount(), 0u);
    QCOMPARE(VexoDisplayUseCount(), 0u);
}

void TestLibraryInit::twoInitsTwoDeinits_data()
{
    QTest::addColumn<uint>("loggerLevel");
    QTest::newRow("guard.library at level 2: logged") << 2u;
    QTest::newRow("guard.library at level 3: quiet") << 3u;
}

void TestLibraryInit::twoInitsTwoDeinits()
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

void TestLibraryInit::initAfterFullDeinitStartsOver()
{
    const unsigned long id = kernelThreadId();
    VexoDisplayQt4Init();
    VexoDisplayQt4Deinit();
    recording_dispatcher::note("full deinit");
    VexoDisplayQt4Init();
    QCOMPARE(VexoCoreUseCount(), 1u);
    VexoDisplayQt4Deinit();

    const QStringList cycle{"attach", "register guard.library", logLine("INIT", id, 1),
                            "VexoCoreInit", "VexoDisplayInit",
                            "register guard.library", logLine("DEINIT", id, 1),
                            "VexoCoreDeinit", "VexoDisplayDeinit", "detach"};
    QCOMPARE(journal(), cycle + QStringList{"full deinit"} + cycle);
}

void TestLibraryInit::linesNameTheCallingThread()
{
    unsigned long initThread = 0, deinitThread = 0;
    std::thread([&] { initThread = kernelThreadId(); VexoDisplayQt4Init(); }).join();
    std::thread([&] { deinitThread = kernelThreadId(); VexoDisplayQt4Deinit(); }).join();
    QVERIFY(initThread != deinitThread);
    const QStringList lines = journal().filter(QRegularExpression("^log "));
    QCOMPARE(lines, (QStringList{logLine("INIT", initThread, 1), logLine("DEINIT", deinitThread, 1)}));
}

void TestLibraryInit::singletonFromBeforeTheFirstInitSurvives()
{
    Survivor* survivor = Survivor::instance(); // no controller yet: not registered
    VexoDisplayQt4Init();
    Casualty* casualty = Casualty::instance();
    QVERIFY(casualty);
    VexoDisplayQt4Deinit();

    QCOMPARE(Survivor::destructions, 0);
    QCOMPARE(Survivor::instance(), survivor);
    QCOMPARE(Casualty::destructions, 1); // the control: one made during the init goes
}

void TestLibraryInit::iconsAreRegisteredByInit()
{
    VexoDisplayQt4Init();
    QVERIFY(QFile::exists(icon));
    VexoDisplayQt4Deinit();
    QVERIFY(!QFile::exists(icon)); // the deinit took them away...
    VexoDisplayQt4Init();
    QVERIFY(QFile::exists(icon)); // ...and the next init brings them back
    QImage image(icon);
    QCOMPARE(image.size(), QSize(16, 16));
    VexoDisplayQt4Deinit();
}

QTEST_GUILESS_MAIN(TestLibraryInit)
#include "tst_library_init.moc"
