// The runtime's frame buffers and buffer groups: bounds, the valid window of the ring,
// and the read/write locking that keeps acquisition from waiting on a reader.

#include "vexo-lib-display/FrameBuffer.h"
#include "vexo-lib-display/FrameBufferGroup.h"

#include <QtTest>

#include <cstdint>

using vexo::core::FrameBuffer;
using vexo::core::FrameBufferGroup;

class TestFrameBuffers : public QObject
{
    Q_OBJECT

private slots:
    void pixelAccessBounds_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("gray");
        QTest::addColumn<unsigned>("x");
        QTest::addColumn<unsigned>("y");
        QTest::addColumn<bool>("inside");
        QTest::newRow("gray last") << 5 << 3 << true << 4u << 2u << true;
        QTest::newRow("gray x past end") << 5 << 3 << true << 5u << 0u << false;
        QTest::newRow("gray y past end") << 5 << 3 << true << 0u << 3u << false;
        QTest::newRow("gray huge x") << 5 << 3 << true << 4294967295u << 0u << false;
        QTest::newRow("colour last") << 5 << 3 << false << 4u << 2u << true;
        QTest::newRow("colour past end") << 5 << 3 << false << 5u << 2u << false;
        QTest::newRow("empty") << 0 << 0 << true << 0u << 0u << false;
    }

    void pixelAccessBounds()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(bool, gray);
        QFETCH(unsigned, x);
        QFETCH(unsigned, y);
        QFETCH(bool, inside);

        FrameBuffer buffer(width, height, 12, gray);
        std::uint64_t v = 77, r = 77, g = 77, b = 77;
        if (gray) {
            QCOMPARE(buffer.setPixelValueGray(x, y, 4095), inside);
            QCOMPARE(buffer.getPixelValueGray(x, y, &v), inside);
            QCOMPARE(v, inside ? std::uint64_t(4095) : std::uint64_t(77));
            // The other kind of read never succeeds.
            QVERIFY(!buffer.getPixelValueColor(x, y, &r, &g, &b));
        } else {
            QCOMPARE(buffer.setPixelValueColor(x, y, 1, 2, 3), inside);
            QCOMPARE(buffer.getPixelValueColor(x, y, &r, &g, &b), inside);
            if (inside)
                QCOMPARE((QList<std::uint64_t>{r, g, b}), (QList<std::uint64_t>{1, 2, 3}));
            QVERIFY(!buffer.getPixelValueGray(x, y, &v));
        }
        if (inside) {
            // Neighbours are untouched: the write hit exactly one pixel.
            std::uint64_t sum = 0;
            for (int yy = 0; yy < height; ++yy)
                for (int xx = 0; xx < width * buffer.channels(); ++xx)
                    sum += buffer.line(yy)[xx];
            QCOMPARE(sum, gray ? std::uint64_t(4095) : std::uint64_t(6));
        }
    }

    void groupValidWindow_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("stored");
        QTest::newRow("empty") << 4 << 0;
        QTest::newRow("partly filled") << 4 << 3;
        QTest::newRow("exactly full") << 4 << 4;
        QTest::newRow("wrapped once") << 4 << 5;
        QTest::newRow("wrapped often") << 4 << 23;
        QTest::newRow("single slot") << 1 << 7;
    }

    void groupValidWindow()
    {
        QFETCH(int, capacity);
        QFETCH(int, stored);
        auto group = FrameBufferGroup::create(capacity, 4, 2, 8, true);
        QCOMPARE(group->capacity(), capacity);
        for (int i = 0; i < stored; ++i) {
            auto slot = group->beginWrite();
            QVERIFY(slot);
            slot->setFrameIndex(i);
            group->commitWrite();
        }
        const int valid = std::min(stored, capacity);
        QCOMPARE(group->frameCounter(), std::int64_t(stored));
        QCOMPARE(group->size(), valid);
        // Exactly the newest `valid` frames are reachable, each in its own slot.
        QVERIFY(!group->buffer(stored - valid - 1));
        QVERIFY(!group->buffer(stored));
        for (std::int64_t i = stored - valid; i < stored; ++i) {
            auto buffer = group->buffer(i);
            QVERIFY(buffer);
            QCOMPARE(buffer->frameIndex(), i);
            QCOMPARE(buffer->frameBufferGroup(), group);
        }
        group->reset();
        QCOMPARE(group->size(), 0);
        QVERIFY(!group->buffer(0));
    }

    void readLockExcludesWriter()
    {
        auto group = FrameBufferGroup::create(2, 4, 4, 8, true);
        QVERIFY(group->try_readlock());
        QVERIFY(group->try_readlock()); // readers share
        QVERIFY(!group->beginWrite());
        group->unlock();
        QVERIFY(!group->beginWrite()); // one reader is left
        group->unlock();
        QVERIFY(group->beginWrite());
        QVERIFY(!group->try_readlock()); // a save cannot start mid-frame
        QVERIFY(!group->beginWrite());   // one frame at a time
        group->commitWrite();
        QVERIFY(group->try_readlock());
        group->unlock();
    }

    void heldBuffersAreNotOverwritten()
    {
        auto group = FrameBufferGroup::create(3, 4, 1, 8, true);
        const auto store = [&](int index) {
            auto slot = group->beginWrite();
            if (!slot)
                return false;
            slot->setFrameIndex(index);
            slot->setComplete();
            group->commitWrite();
            return true;
        };
        QVERIFY(store(0) && store(1) && store(2));
        // A reader holds frame 0, the oldest: frame 3 takes the oldest frame not in use.
        auto held = group->buffer(0);
        QCOMPARE(held->frameIndex(), std::int64_t(0));
        QVERIFY(store(3));
        QCOMPARE(held->frameIndex(), std::int64_t(0));
        QCOMPARE(group->size(), 3);
        QList<std::int64_t> order;
        for (std::int64_t i = group->frameCounter() - group->size(); i < group->frameCounter(); ++i)
            order << group->buffer(i)->frameIndex();
        QCOMPARE(order, (QList<std::int64_t>{0, 2, 3}));
        QCOMPARE(group->busyCount(), 1);

        // With every slot held, the writer gets nothing and nothing changes.
        auto second = group->buffer(group->frameCounter() - 2);
        auto third = group->buffer(group->frameCounter() - 1);
        QCOMPARE(group->busyCount(), 3);
        QVERIFY(!store(4));
        QCOMPARE(group->size(), 3);
        third.reset();
        QVERIFY(store(5));
        QCOMPARE(group->buffer(group->frameCounter() - 1)->frameIndex(), std::int64_t(5));

        // A claimed slot shows none of its old frame.
        held.reset();
        second.reset();
        auto claimed = group->beginWrite();
        QVERIFY(claimed);
        int x = 0, y = 0;
        claimed->lastValidPixel(&x, &y);
        QCOMPARE(y, -1);
        QCOMPARE(group->bufferInProgress(), claimed);
        QCOMPARE(group->size(), 2); // the frame it held is gone
        group->abortWrite();
        QVERIFY(!group->bufferInProgress());
        QCOMPARE(group->size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestFrameBuffers)
#include "tst_frame_buffers.moc"
