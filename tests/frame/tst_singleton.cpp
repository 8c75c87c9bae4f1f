#include "ProbeThread.h"

#include "frame/GuardedSingleton.h"
#include "frame/LibraryInitController.h"

#include <QtTest>

#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

using Controller = LibraryInitController;

namespace {

QStringList journal; // what happened, in order; main thread only

// One singleton type per N. afterCreate() asks for the instance again, as a singleton
// wiring itself up would, and notes whether it got itself back.
template <int N>
class Tracked : public GuardedSingleton<Tracked<N>>
{
    using Base = GuardedSingleton<Tracked<N>>;

public:
    Tracked() { journal << QStringLiteral("create%1").arg(N); }
    ~Tracked() override { journal << QStringLiteral("destroy%1").arg(N); }
    static bool published() { return Base::instanceSlot_.load() != nullptr; }

private:
    void afterCreate() override
    {
        journal << QString(Base::instance() == this ? "after%1" : "after%1 other").arg(N);
    }
    void beforeDestroy() override
    {
        // The instance must still be published and whole when the hook runs.
        journal << QString(published() ? "before%1" : "before%1 late").arg(N);
    }
};

void init1() { journal << "init1"; }
void deinit1() { journal << "deinit1"; }
void init2() { journal << "init2"; }
void deinit2() { journal << "deinit2"; }
void innerInit() { journal << "innerInit"; }
void innerDeinit() { journal << "innerDeinit"; }
void outerDeinit() { journal << "outerDeinit"; }
void outerInit()
{
    journal << "outerInit";
    Controller::chainedInit(&innerInit, &innerDeinit); // initLock again on this thread
    Tracked<4>::instance(); // creation lock, then initLock again
}

// Raced for by several threads. afterCreate() finishes only once every racer is about
// to call instance(), so a racer handed the object early sees `ready` still false;
// `ready` is plain, so that is also a data race.
class Contended : public GuardedSingleton<Contended>
{
public:
    static inline std::atomic<int> constructions{0}, destructions{0}, callers{0};
    static constexpr int racers = 6;
    bool ready = false;
    Contended() { ++constructions; }
    ~Contended() override { ++destructions; }

private:
    void afterCreate() override
    {
        while (callers.load() < racers)
            std::this_thread::yield();
        ready = true;
    }
};

// Refuses to be constructed the first time.
class Fragile : public GuardedSingleton<Fragile>
{
public:
    static inline bool refuse = true;
    static inline int destructions = 0;
    Fragile()
    {
        if (std::exchange(refuse, false))
            throw std::runtime_error("refused");
    }
    ~Fragile() override { ++destructions; }
    static bool lockFree() { return lockWord_.load() == 0 && ownerWord_.load() == 0; }
    static bool published() { return instanceSlot_.load() != nullptr; }
};

std::atomic<int> initCalls{0}, deinitCalls{0};
void countInit() { ++initCalls; }
void countDeinit() { ++deinitCalls; }

} // namespace

class TestSingleton : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QCOMPARE(Controller::useCount(), 0u); // every case pairs its calls
    }

    // Steps: "+" acquire and "-" release (their results are journaled), "iN" chained
    // init N ("io" the outer one), "sN" Tracked<N>::instance().
    void lifecycle_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        QTest::newRow("singletons go after deinits, in registration order")
            << "+ i1 s1 s2 s1 -"
            << "+1 init1 create1 after1 create2 after2 deinit1 before1 destroy1 before2 destroy2 -1";
        QTest::newRow("a later instance() builds and registers a fresh object")
            << "+ s1 - + s1 -"
            << "+1 create1 after1 before1 destroy1 -1 +1 create1 after1 before1 destroy1 -1";
        QTest::newRow("before any acquire nothing registers and survives")
            << "s3 i1 + s2 - s3"
            << "create3 after3 init1 +1 create2 after2 before2 destroy2 -1";
        QTest::newRow("two users: deinits only at the last release, alternating")
            << "+ i1 i2 + i1 i2 - -"
            << "+1 init1 init2 +2 init1 init2 -2 deinit1 deinit2 deinit1 deinit2 -1";
        QTest::newRow("chained init from inside an init function")
            << "+ io -"
            << "+1 outerInit innerInit create4 after4 outerDeinit innerDeinit before4 destroy4 -1";
        QTest::newRow("an unmatched release wraps: no teardown, no controller until 1")
            << "- + s5 + s1 -"
            << "-0 +0 create5 after5 +1 create1 after1 before1 destroy1 -1";
    }

    void lifecycle()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        const QHash<QString, std::function<void()>> actions = {
            {"+", [] { journal << QString("+%1").arg(Controller::acquire()); }},
            {"-", [] { journal << QString("-%1").arg(Controller::release()); }},
            {"i1", [] { Controller::chainedInit(&init1, &deinit1); }},
            {"i2", [] { Controller::chainedInit(&init2, &deinit2); }},
            {"io", [] { Controller::chainedInit(&outerInit, &outerDeinit); }},
            {"s1", [] { Tracked<1>::instance(); }},
            {"s2", [] { Tracked<2>::instance(); }},
            {"s3", [] { Tracked<3>::instance(); }},
            {"s5", [] { Tracked<5>::instance(); }},
        };
        journal.clear();
        for (const QString& step : steps.split(' ')) {
            QVERIFY2(actions.contains(step), qPrintable(step));
            actions[step]();
        }
        QCOMPARE(journal.join(' '), expected);
        QVERIFY(!Tracked<1>::published() && !Tracked<2>::published());
    }

    void concurrentFirstInstance()
    {
        Controller::acquire();
        std::vector<Contended*> seen(Contended::racers, nullptr);
        std::vector<char> sawReady(Contended::racers, 0);
        runTogether(Contended::racers, [&](int i) {
            ++Contended::callers;
            seen[i] = Contended::instance();
            sawReady[i] = seen[i]->ready;
        });
        QCOMPARE(Contended::constructions.load(), 1);
        for (int i = 0; i < Contended::racers; ++i)
            QVERIFY(seen[i] == seen[0] && sawReady[i]);
        Controller::release();
        QCOMPARE(Contended::destructions.load(), 1);
    }

    void throwingConstructor()
    {
        Controller::acquire();
        QVERIFY_EXCEPTION_THROWN(Fragile::instance(), std::runtime_error);
        QVERIFY(Fragile::lockFree());
        QVERIFY(!Fragile::published());

        Fragile* created = nullptr;
        {
            ProbeThread other([&] { created = Fragile::instance(); }); // spins on a held lock
            QTRY_VERIFY(other.finished);
        }
        QVERIFY(created && Fragile::instance() == created);
        Controller::release();
        QCOMPARE(Fragile::destructions, 1); // the failed attempt registered nothing
    }

    void concurrentUsers()
    {
        constexpr int threadCount = 4, rounds = 200;
        Controller::acquire(); // keeps the controller alive throughout
        runTogether(threadCount, [](int) {
            for (int i = 0; i < rounds; ++i) {
                Controller::acquire();
                Controller::chainedInit(&countInit, &countDeinit);
                Controller::release();
            }
        });
        QCOMPARE(Controller::useCount(), 1u);
        QCOMPARE(initCalls.load(), threadCount * rounds);
        QCOMPARE(deinitCalls.load(), 0);
        Controller::release();
        QCOMPARE(deinitCalls.load(), threadCount * rounds);
    }
};

QTEST_GUILESS_MAIN(TestSingleton)
#include "tst_singleton.moc"
