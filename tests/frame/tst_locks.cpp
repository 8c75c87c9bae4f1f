#include "ProbeThread.h"

#include "frame/Platform.h"
#include "frame/ReadWriteLockGuard.h"
#include "frame/RecursiveMutexGuard.h"
#include "frame/SpinLockVariableGuard.h"

#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <optional>

using namespace vexo::templates::platform;

class TestLocks : public QObject
{
    Q_OBJECT

private slots:
    void threadIds()
    {
        const ThreadId self = currentThreadId();
        QCOMPARE(self, ThreadId(::getpid())); // the main thread's id is the process id
        ThreadId other = 0;
        std::thread([&] { other = currentThreadId(); }).join();
        QVERIFY(other != 0 && other != self);

        // A forked child must not keep its parent thread's cached id.
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(currentThreadId() == ThreadId(::getpid()) ? 0 : 1);
        int status = -1;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    void spinGuard_data()
    {
        QTest::addColumn<bool>("withOwner");
        QTest::addColumn<int>("depth");
        QTest::newRow("plain") << false << 1;
        QTest::newRow("re-entrant") << true << 1;
        QTest::newRow("re-entrant, nested three times") << true << 3;
    }

    // The holder nests `depth` guards; a contender on another thread gets in only after
    // the outermost one is gone, however the owner word is set.
    void spinGuard()
    {
        QFETCH(bool, withOwner);
        QFETCH(int, depth);
        std::atomic<std::int32_t> word{0};
        std::atomic<std::uint32_t> owner{0};
        std::atomic<std::uint32_t>* ownerVariable = withOwner ? &owner : nullptr;
        std::atomic<bool> releasing{false}, sawReleasing{false}, ownerWasContender{false};

        std::optional<ProbeThread> contender; // first, so it is joined after the guards go
        std::vector<std::unique_ptr<SpinLockVariableGuard>> held;
        for (int i = 0; i < depth; ++i) {
            held.push_back(std::make_unique<SpinLockVariableGuard>(&word, ownerVariable));
            QCOMPARE(held.back()->locked, i == 0); // inner guards take nothing
        }
        contender.emplace([&] {
            SpinLockVariableGuard guard(&word, ownerVariable);
            sawReleasing = releasing.load();
            ownerWasContender = owner.load() == currentThreadId();
        });
        QTRY_VERIFY(contender->started);
        for (; depth > 0; --depth) {
            QCOMPARE(word.load(), 1);
            QCOMPARE(owner.load(), withOwner ? currentThreadId() : 0u);
            QVERIFY(!contender->finished);
            releasing = depth == 1;
            held.pop_back();
        }
        QTRY_VERIFY(contender->finished);
        QVERIFY(sawReleasing);
        QCOMPARE(ownerWasContender.load(), withOwner);
        QCOMPARE(word.load(), 0);
        QCOMPARE(owner.load(), 0u);
    }

    void excludes_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::newRow("spin guard") << "spin";
        QTest::newRow("re-entrant spin guard, nested") << "re-entrant";
        QTest::newRow("read-write lock, half the threads reading") << "read-write";
    }

    void excludes()
    {
        QFETCH(QString, lock);
        constexpr int threads = 8, rounds = 3000;
        const bool readWrite = lock == "read-write", reentrant = lock == "re-entrant";
        std::atomic<std::int32_t> word{0};
        std::atomic<std::uint32_t> owner{0};
        ReadWriteLock rwLock;
        std::atomic<int> writersInside{0}, readersInside{0}, violations{0};
        long counter = 0; // plain on purpose: a race here is what the lock must prevent
        std::atomic<long> readSum{0};
        runTogether(threads, [&](int index) {
            const bool writer = !readWrite || index % 2 == 0;
            std::atomic<int>& mine = writer ? writersInside : readersInside;
            for (int i = 0; i < rounds; ++i) {
                std::optional<SpinLockVariableGuard> outer, inner;
                std::optional<ReadWriteLockGuard> guard;
                if (readWrite)
                    guard.emplace(&rwLock, writer ? ReadWriteLockGuard::WriteAccess : ReadWriteLockGuard::ReadAccess);
                else
                    outer.emplace(&word, reentrant ? &owner : nullptr);
                if (reentrant)
                    inner.emplace(&word, &owner);
                ++mine;
                // Let the others run while this one holds the lock, so that an overlap
                // shows. Not under the spin guard, whose waiters would only burn the time.
                if (readWrite)
                    std::this_thread::yield();
                if (writersInside.load() > 1 || (writersInside.load() && readersInside.load()))
                    ++violations;
                writer ? void(++counter) : void(readSum += counter);
                --mine;
            }
        });
        QCOMPARE(violations.load(), 0);
        QCOMPARE(counter, long(readWrite ? threads / 2 : threads) * rounds);
    }

    void recursiveMutexNesting()
    {
        RecursiveMutex mutex;
        std::atomic<std::int32_t> countSeenByOther{-1};
        std::optional<ProbeThread> other;
        std::vector<std::unique_ptr<RecursiveMutexGuard>> guards;
        for (int i = 1; i <= 3; ++i) {
            guards.push_back(std::make_unique<RecursiveMutexGuard>(&mutex));
            QCOMPARE(mutex.lockCount(), i);
        }
        other.emplace([&] {
            RecursiveMutexGuard guard(&mutex);
            countSeenByOther = mutex.lockCount();
        });
        QTRY_VERIFY(other->started);
        while (guards.size() > 1) {
            guards.pop_back();
            QCOMPARE(mutex.lockCount(), std::int32_t(guards.size()));
            QVERIFY(!other->finished); // one unlock per lock
        }
        guards.pop_back();
        QTRY_VERIFY(other->finished);
        QCOMPARE(countSeenByOther.load(), 1); // the previous holder's count is gone
        QCOMPARE(mutex.lockCount(), 0);
    }

    void newReaderWaitsBehindWaitingWriter_data()
    {
        QTest::addColumn<int>("holders");
        QTest::newRow("one reader holds") << 1;
        QTest::newRow("two readers hold") << 2;
    }

    void newReaderWaitsBehindWaitingWriter()
    {
        QFETCH(int, holders);
        ReadWriteLock lock;
        std::atomic<bool> writerDone{false}, readerSawWriterDone{false};
        std::atomic<std::uint32_t> readersSeenByWriter{99};

        // Holds are counted, not threads: one thread may take several while no writer waits.
        for (int i = 0; i < holders; ++i)
            lock.lockRead();
        ProbeThread writer([&] {
            ReadWriteLockGuard guard(&lock, ReadWriteLockGuard::WriteAccess);
            readersSeenByWriter = lock.readers();
            writerDone = true;
        });
        QTRY_COMPARE(lock.waitingWriters(), 1u);
        ProbeThread lateReader([&] {
            ReadWriteLockGuard guard(&lock, ReadWriteLockGuard::ReadAccess);
            readerSawWriterDone = writerDone.load();
        });
        QTRY_VERIFY(lateReader.started);
        for (int i = holders; i > 0; --i) {
            QCOMPARE(lock.readers(), std::uint32_t(i)); // the late reader is not in
            QVERIFY(!lock.writerActive());
            lock.unlock();
        }
        QTRY_VERIFY(lateReader.finished && writer.finished);
        QVERIFY(readerSawWriterDone);
        QCOMPARE(readersSeenByWriter.load(), 0u);
        QCOMPARE(lock.waitingWriters(), 0u);
    }

    void writerUnlockWakesEveryReader()
    {
        constexpr int readerCount = 4;
        ReadWriteLock lock;
        std::atomic<int> inside{0};
        std::atomic<bool> leave{false};
        lock.lockWrite();
        {
            std::vector<std::unique_ptr<ProbeThread>> readers;
            for (int i = 0; i < readerCount; ++i)
                readers.push_back(std::make_unique<ProbeThread>([&] {
                    ReadWriteLockGuard guard(&lock, ReadWriteLockGuard::ReadAccess);
                    for (++inside; !leave.load();)
                        std::this_thread::yield();
                }));
            for (const auto& reader : readers)
                QTRY_VERIFY(reader->started);
            QCOMPARE(inside.load(), 0);
            lock.unlock();
            QTRY_COMPARE(inside.load(), readerCount); // all of them at once
            leave = true;
        }
        QCOMPARE(lock.readers(), 0u);
        ProbeThread writer([&] { ReadWriteLockGuard guard(&lock, ReadWriteLockGuard::WriteAccess); });
        QTRY_VERIFY(writer.finished); // the last reader out lets a writer in
    }
};

QTEST_GUILESS_MAIN(TestLocks)
#include "tst_locks.moc"
