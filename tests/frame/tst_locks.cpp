#include "FrameTestSupport.h"

#include "frame/Platform.h"
#include "frame/ReadWriteLockGuard.h"
#include "frame/RecursiveMutexGuard.h"
#include "frame/SpinLockVariableGuard.h"

#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>

using namespace vexo::templates::platform;

class TestLocks : public QObject
{
    Q_OBJECT

private slots:
    void threadIds()
    {
        const ThreadId self = currentThreadId();
        ThreadId other = 0;
        std::thread([&] { other = currentThreadId(); }).join();
        // The main thread's id is the process id; a forked child must not keep its parent's cached id.
        QVERIFY(self == ThreadId(::getpid()) && other != 0 && other != self);
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(currentThreadId() == ThreadId(::getpid()) ? 0 : 1);
        int status = -1;
        QVERIFY(::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    void excludes_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<int>("depth");
        QTest::newRow("spin guard") << "spin" << 1;
        QTest::newRow("re-entrant spin guard, nested three times") << "re-entrant" << 3;
        QTest::newRow("recursive mutex, locked three times") << "recursive" << 3;
        QTest::newRow("read-write lock, writing; half the racers read") << "read-write" << 1;
    }

    // First the main thread nests `depth` guards: a contender on another thread gets in
    // only once the outermost is gone, and then finds the lock as a first holder does.
    // Then 8 threads race for it, nesting as deep.
    void excludes()
    {
        QFETCH(QString, lock);
        QFETCH(int, depth);
        const bool recursive = lock == "recursive", withOwner = lock == "re-entrant", readWrite = lock == "read-write";
        std::atomic<std::int32_t> word{0};
        std::atomic<std::uint32_t> owner{0};
        RecursiveMutex mutex;
        ReadWriteLock rwLock;
        // The spin word (nesting takes nothing), the mutex's lock count or the writer flag.
        const auto count = [&] { return recursive ? mutex.lockCount() : readWrite ? int(rwLock.writerActive()) : word.load(); };
        const auto take = [&](bool write) -> std::shared_ptr<void> {
            if (readWrite)
                return std::make_shared<ReadWriteLockGuard>(&rwLock, write ? ReadWriteLockGuard::WriteAccess : ReadWriteLockGuard::ReadAccess);
            if (recursive)
                return std::make_shared<RecursiveMutexGuard>(&mutex);
            return std::make_shared<SpinLockVariableGuard>(&word, withOwner ? &owner : nullptr);
        };
        std::atomic<bool> releasing{false};
        std::atomic<int> sawReleasing{0}, countSeen{-1}, ownerRight{0};
        {
            std::optional<ProbeThread> contender; // first, so it is joined after the guards go
            std::vector<std::shared_ptr<void>> held;
            for (int i = 0; i < depth; ++i)
                held.push_back(take(true));
            contender.emplace([&] {
                const std::shared_ptr<void> guard = take(true);
                sawReleasing = releasing.load(), countSeen = count();
                ownerRight = owner.load() == (withOwner ? currentThreadId() : 0u);
            });
            QTRY_VERIFY(contender->started);
            for (; !held.empty(); held.pop_back()) {
                QCOMPARE((QVector<qint64>{count(), owner.load(), contender->finished}),
                         (QVector<qint64>{recursive ? qint64(held.size()) : 1, withOwner ? currentThreadId() : 0u, false}));
                releasing = held.size() == 1;
            }
            QTRY_VERIFY(contender->finished);
        }
        // The contender came in after the outermost release, with a count of its own.
        QCOMPARE((QVector<int>{sawReleasing, countSeen, ownerRight, count(), int(owner.load())}), (QVector<int>{1, 1, 1, 0, 0}));

        constexpr int threads = 8, rounds = 1000;
        std::atomic<int> writersInside{0}, readersInside{0}, violations{0};
        long counter = 0; // plain on purpose: a race here is what the lock must prevent
        std::atomic<long> readSum{0};
        runTogether(threads, [&](int index) {
            const bool writer = !readWrite || index % 2 == 0;
            std::atomic<int>& mine = writer ? writersInside : readersInside;
            for (int i = 0; i < rounds; ++i) {
                std::vector<std::shared_ptr<void>> guards;
                for (int d = 0; d < depth; ++d)
                    guards.push_back(take(writer));
                ++mine;
                // Lets the others run while this one holds the lock, so an overlap shows.
                // Not under the spin guard, whose waiters would only burn the time.
                if (readWrite || recursive)
                    std::this_thread::yield();
                violations += writersInside.load() > 1 || (writersInside.load() && readersInside.load());
                writer ? void(++counter) : void(readSum += counter);
                --mine;
            }
        });
        QCOMPARE(violations.load(), 0);
        QCOMPARE(counter, long(readWrite ? threads / 2 : threads) * rounds);
    }

    // The main thread takes the lock as `holders` says, then waiters start in the order
    // of `waiters`, each blocked before the next starts; `entered` is the order they got
    // in, a writer with the readers it saw. "W" writes, "R" reads.
    void readWriteOrder_data()
    {
        QTest::addColumn<QString>("holders");
        QTest::addColumn<QString>("waiters");
        QTest::addColumn<QString>("entered");
        QTest::newRow("a reader holds: a waiting writer goes before a later reader") << "R" << "W R" << "W0 R";
        QTest::newRow("two read holds, counted not by thread") << "R R" << "W R" << "W0 R";
        QTest::newRow("a writer's unlock wakes every waiting reader") << "W" << "R R R R" << "R R R R";
    }

    void readWriteOrder()
    {
        QFETCH(QString, holders);
        QFETCH(QString, waiters);
        QFETCH(QString, entered);
        ReadWriteLock lock;
        std::mutex orderMutex;
        QStringList order;
        std::atomic<int> readersInside{0};
        std::atomic<bool> leave{false};
        const bool holdsWrite = holders == "W";
        for (int i = holders.count(' '); i >= 0; --i)
            holdsWrite ? lock.lockWrite() : lock.lockRead();
        {
            std::vector<std::unique_ptr<ProbeThread>> threads;
            std::uint32_t writers = 0;
            for (const QString& waiter : waiters.split(' ')) {
                const bool writer = waiter == "W";
                threads.push_back(std::make_unique<ProbeThread>([&, writer] {
                    ReadWriteLockGuard guard(&lock, writer ? ReadWriteLockGuard::WriteAccess : ReadWriteLockGuard::ReadAccess);
                    std::unique_lock<std::mutex> section(orderMutex);
                    order << (writer ? QStringLiteral("W%1").arg(lock.readers()) : QStringLiteral("R"));
                    section.unlock();
                    for (readersInside += !writer; !writer && !leave.load();) // the readers stay, to be in together
                        std::this_thread::yield();
                }));
                writers += writer;
                QTRY_VERIFY(threads.back()->started);
                QTRY_COMPARE(lock.waitingWriters(), writers);
            }
            for (int held = holders.count(' ') + 1; held > 0; --held, lock.unlock()) // no waiter is in yet
                QCOMPARE((QVector<int>{int(lock.readers()), lock.writerActive(), readersInside}),
                         (QVector<int>{holdsWrite ? 0 : held, holdsWrite, 0}));
            QTRY_COMPARE(readersInside.load(), int(waiters.count('R')));
            leave = true;
        }
        QCOMPARE(order.join(' '), entered);
        lock.unlock(); // unmatched: must not wrap the reader count
        QCOMPARE((QVector<quint32>{lock.waitingWriters(), lock.readers()}), (QVector<quint32>{0, 0}));
        ProbeThread writer([&] { ReadWriteLockGuard guard(&lock, ReadWriteLockGuard::WriteAccess); });
        QTRY_VERIFY(writer.finished); // the last reader out lets a writer in
    }
};

QTEST_GUILESS_MAIN(TestLocks)
#include "tst_locks.moc"
