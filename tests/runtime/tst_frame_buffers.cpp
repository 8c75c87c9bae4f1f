// The runtime's frame buffers and buffer groups: bounds, the valid window of the ring,
// and the read/write locking that keeps acquisition from waiting on a reader.

#include "RuntimeTestSupport.h"

#include <QtTest>

#include <numeric>

using vexo::core::FrameBuffer;
using vexo::core::FrameBufferGroup;

namespace {

// Stores one frame with that index; false when the writer got no slot.
bool store(FrameBufferGroup& group, std::int64_t index)
{
    auto slot = group.beginWrite();
    if (slot) {
        slot->setFrameIndex(index);
        group.commitWrite();
    }
    return bool(slot);
}

// The frame indices the group holds, oldest first.
QList<std::int64_t> heldIndices(const FrameBufferGroup& group)
{
    QList<std::int64_t> indices;
    for (std::int64_t i = group.frameCounter() - group.size(); i < group.frameCounter(); ++i)
        indices << group.buffer(i)->frameIndex();
    return indices;
}

} // namespace

class TestFrameBuffers : public QObject
{
    Q_OBJECT

private slots:
    void pixelAccessBounds_data()
    {
        QTest::addColumn<int>("width"); // of a 3-line buffer
        QTest::addColumn<bool>("gray");
        QTest::addColumn<unsigned>("x");
        QTest::addColumn<unsigned>("y");
        QTest::addColumn<bool>("inside");
        QTest::newRow("gray last") << 5 << true << 4u << 2u << true;
        QTest::newRow("gray x past end") << 5 << true << 5u << 0u << false;
        QTest::newRow("gray y past end") << 5 << true << 0u << 3u << false;
        QTest::newRow("gray huge x") << 5 << true << 4294967295u << 0u << false;
        QTest::newRow("colour last") << 5 << false << 4u << 2u << true;
        QTest::newRow("colour past end") << 5 << false << 5u << 2u << false;
        QTest::newRow("empty") << 0 << true << 0u << 0u << false;
    }

    void pixelAccessBounds()
    {
        QFETCH(int, width);
        QFETCH(bool, gray);
        QFETCH(unsigned, x);
        QFETCH(unsigned, y);
        QFETCH(bool, inside);
        FrameBuffer buffer(width, 3, 12, gray);
        std::uint64_t v = 77, r = 77, g = 77, b = 77;
        QCOMPARE(gray ? buffer.setPixelValueGray(x, y, 4095) : buffer.setPixelValueColor(x, y, 1, 2, 3), inside);
        // The other kind of read never succeeds.
        QCOMPARE(buffer.getPixelValueGray(x, y, &v), inside && gray);
        QCOMPARE(buffer.getPixelValueColor(x, y, &r, &g, &b), inside && !gray);
        const bool colour = inside && !gray;
        QCOMPARE((QList<std::uint64_t>{v, r, g, b}),
                 (QList<std::uint64_t>{inside && gray ? 4095u : 77u, colour ? 1u : 77u, colour ? 2u : 77u, colour ? 3u : 77u}));
        // Exactly one pixel was written.
        const auto all = samplesOf(buffer);
        QCOMPARE(std::accumulate(all.begin(), all.end(), 0), !inside ? 0 : gray ? 4095 : 6);
    }

    void groupValidWindow_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("stored");
        QTest::newRow("empty") << 4 << 0;
        QTest::newRow("exactly full") << 4 << 4;
        QTest::newRow("wrapped once") << 4 << 5;
        QTest::newRow("single slot") << 1 << 7;
    }

    void groupValidWindow()
    {
        QFETCH(int, capacity);
        QFETCH(int, stored);
        auto group = FrameBufferGroup::create(capacity, 4, 2, 8, true);
        for (int i = 0; i < stored; ++i)
            QVERIFY(store(*group, i));
        const int valid = std::min(stored, capacity);
        QCOMPARE(group->frameCounter(), std::int64_t(stored));
        // Exactly the newest `valid` frames are reachable, each in its own slot.
        QList<std::int64_t> newest;
        for (std::int64_t i = stored - valid; i < stored; ++i)
            newest << i;
        QCOMPARE(heldIndices(*group), newest);
        QVERIFY(!group->buffer(stored - valid - 1) && !group->buffer(stored));
        QVERIFY(valid == 0 || group->buffer(stored - 1)->frameBufferGroup() == group);
        group->reset();
        QVERIFY(group->size() == 0 && group->frameCounter() == 0 && !group->buffer(0));
    }

    void lockingKeepsHeldBuffers()
    {
        auto group = FrameBufferGroup::create(3, 4, 1, 8, true);
        // A save read-locks the group: readers share it, and the writer gets no slot meanwhile.
        QVERIFY(group->try_readlock() && group->try_readlock());
        QVERIFY(!group->beginWrite());
        group->unlock();
        QVERIFY(!group->beginWrite()); // one reader is left
        group->unlock();
        QVERIFY(store(*group, 0) && store(*group, 1) && store(*group, 2));
        // A reader holds frame 0, the oldest: frame 3 takes the oldest frame not in use.
        auto held = group->buffer(0);
        QVERIFY(store(*group, 3));
        QCOMPARE(held->frameIndex(), std::int64_t(0));
        QCOMPARE(heldIndices(*group), (QList<std::int64_t>{0, 2, 3}));
        QCOMPARE(group->busyCount(), 1);

        // With every slot held, the writer gets nothing and nothing changes.
        auto second = group->buffer(2), third = group->buffer(3);
        QCOMPARE(group->busyCount(), 3);
        QVERIFY(!store(*group, 4));
        third.reset();
        QVERIFY(store(*group, 5));
        QCOMPARE(heldIndices(*group), (QList<std::int64_t>{0, 2, 5}));

        // A claimed slot (the first, frame 0's) shows none of its old frame, which is gone.
        held.reset();
        second.reset();
        auto claimed = group->beginWrite();
        // A save cannot start mid-frame, and frames are written one at a time.
        QVERIFY(!group->try_readlock() && !group->beginWrite());
        int x = 0, y = 0;
        claimed->lastValidPixel(&x, &y);
        QCOMPARE(y, -1);
        QCOMPARE(group->bufferInProgress(), claimed);
        QCOMPARE(heldIndices(*group), (QList<std::int64_t>{2, 5}));
        group->abortWrite();
        QVERIFY(!group->bufferInProgress() && group->size() == 2);
        QVERIFY(store(*group, 6)); // the abort let go of the write lock
        // A lease outlives its group: the buffer stays readable and its end finds no group.
        auto survivor = group->buffer(group->frameCounter() - 1);
        group.reset();
        QCOMPARE(survivor->frameIndex(), std::int64_t(6));
    }
};

QTEST_GUILESS_MAIN(TestFrameBuffers)
#include "tst_frame_buffers.moc"
