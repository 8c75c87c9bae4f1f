#include "FrameTestSupport.h"

#include "frame/GuardedSingleton.h"
#include "frame/LibraryInitController.h"

#include <QtTest>

#include <algorithm>
#include <stdexcept>

using Controller = LibraryInitController;

namespace {

QStringList journal; // what happened, in order; main thread only

// One singleton type per N. afterCreate() asks for the instance again, as a singleton
// wiring itself up would, and notes whether it got itself back; beforeDestroy() notes
// whether the instance is still published.
template <int N>
class Tracked : public GuardedSingleton<Tracked<N>>
{
    using Base = GuardedSingleton<Tracked<N>>;

public:
    Tracked() { journal << QStringLiteral("create%1").arg(N); }
    ~Tracked() override { journal << QStringLiteral("destroy%1").arg(N); }
    static bool published() { return Base::instanceSlot_.load() != nullptr; }

private:
    void afterCreate() override { journal << QString(Base::instance() == this ? "after%1" : "after%1 other").arg(N); }
    void beforeDestroy() override { journal << QString(published() ? "before%1" : "before%1 late").arg(N); }
};

template <int N>
void deinit() { journal << QStringLiteral("deinit%1").arg(N); }

// init<9> chains init<8> and creates Tracked<4>: initLock and the creation lock taken
// again on the thread that holds initLock.
template <int N>
void init()
{
    journal << QStringLiteral("init%1").arg(N);
    if constexpr (N == 9)
        Controller::chainedInit(&init<8>, &deinit<8>), Tracked<4>::instance();
}

template <int N>
void chain() { Controller::chainedInit(&init<N>, &deinit<N>); }

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
    void afterCreate() override { for (; callers.load() < racers; std::this_thread::yield()) {} ready = true; }
};

// Refuses to be constructed the first time.
class Fragile : public GuardedSingleton<Fragile>
{
public:
    static inline bool refuse = true;
    static inline int destructions = 0;
    Fragile() { if (std::exchange(refuse, false)) throw std::runtime_error("refused"); }
    ~Fragile() override { ++destructions; }
    static bool untouched() { return lockWord_.load() == 0 && ownerWord_.load() == 0 && !instanceSlot_.load(); }
};

std::atomic<int> initCalls{0}, deinitCalls{0};

} // namespace

class TestSingleton : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QCOMPARE(Controller::useCount(), 0u); } // every case pairs its calls

    // Steps: "+" acquire and "-" release (their results are journaled), "iN" chained
    // init<N>, "sN" Tracked<N>::instance().
    void lifecycle_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("expected");
        QTest::newRow("singletons go after deinits, in registration order")
            << "+ i1 s1 s2 s1 -" << "+1 init1 create1 after1 create2 after2 deinit1 before1 destroy1 before2 destroy2 -1";
        QTest::newRow("before any acquire nothing registers and survives")
            << "s3 i1 + s2 - s3" << "create3 after3 init1 +1 create2 after2 before2 destroy2 -1";
        QTest::newRow("two users: deinits only at the last release, alternating")
            << "+ i1 i2 + i1 i2 - -" << "+1 init1 init2 +2 init1 init2 -2 deinit1 deinit2 deinit1 deinit2 -1";
        QTest::newRow("chained init from inside an init function")
            << "+ i9 -" << "+1 init9 init8 create4 after4 deinit9 deinit8 before4 destroy4 -1";
        QTest::newRow("an unmatched release wraps: no teardown, no controller until 1")
            << "- + s5 + s1 -" << "-0 +0 create5 after5 +1 create1 after1 before1 destroy1 -1";
    }

    void lifecycle()
    {
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        const QHash<QString, void (*)()> actions = {
            {"+", [] { journal << QString("+%1").arg(Controller::acquire()); }},
            {"-", [] { journal << QString("-%1").arg(Controller::release()); }},
            {"i1", &chain<1>}, {"i2", &chain<2>}, {"i9", &chain<9>}, {"s1", [] { Tracked<1>::instance(); }},
            {"s2", [] { Tracked<2>::instance(); }}, {"s3", [] { Tracked<3>::instance(); }}, {"s5", [] { Tracked<5>::instance(); }},
        };
        journal.clear();
        for (const QString& step : steps.split(' '))
            actions.value(step)();
        QCOMPARE(journal.join(' '), expected);
        QVERIFY(!Tracked<1>::published() && !Tracked<2>::published());
    }

    void throwingConstructor()
    {
        Controller::acquire();
        QVERIFY_EXCEPTION_THROWN(Fragile::instance(), std::runtime_error);
        QVERIFY(Fragile::untouched());
        std::atomic<Fragile*> created{nullptr};
        ProbeThread other([&] { created = Fragile::instance(); }); // would spin on a held lock
        QTRY_VERIFY(other.finished);
        QVERIFY(created && Fragile::instance() == created);
        Controller::release();
        QCOMPARE(Fragile::destructions, 1); // the failed attempt registered nothing
    }

    // The racers for the first instance then acquire, chain an init and release, over and
    // over, while the main thread keeps the controller alive.
    void concurrentUsers()
    {
        constexpr int rounds = 200;
        Controller::acquire();
        std::vector<Contended*> seen(Contended::racers, nullptr);
        runTogether(Contended::racers, [&](int i) {
            ++Contended::callers;
            Contended* instance = Contended::instance();
            seen[i] = instance->ready ? instance : nullptr;
            for (int round = 0; round < rounds; ++round) {
                Controller::acquire();
                Controller::chainedInit([] { ++initCalls; }, [] { ++deinitCalls; });
                Controller::release();
            }
        });
        QVERIFY(seen[0] && std::count(seen.begin(), seen.end(), seen[0]) == Contended::racers); // one, and ready
        QCOMPARE((QVector<int>{Contended::constructions, int(Controller::useCount()), initCalls, deinitCalls}),
                 (QVector<int>{1, 1, Contended::racers * rounds, 0}));
        Controller::release();
        QCOMPARE((QVector<int>{Contended::destructions, deinitCalls}), (QVector<int>{1, Contended::racers * rounds}));
    }
};

QTEST_GUILESS_MAIN(TestSingleton)
#include "tst_singleton.moc"
