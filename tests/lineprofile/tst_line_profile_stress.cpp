// The line profile dialog under a stream of frames at full speed: frames made on a producer
// thread, y, zoom, marker and scroll changes and pointer moves from the test, empty frames
// now and then, and a second thread waiting for the worker as the scene's notification
// thread does. Meant to run under ThreadSanitizer too.

#include "LineProfileInspector.h"
#include "ProfileReference.h"
#include "QuietOffscreen.h"

#include "frame/HandOverAnnotations.h"

#include <QMouseEvent>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
using namespace profiletest;

#if defined(VEXO_THREAD_SANITIZER)
// Qt is not instrumented, but its memcpy/memmove calls still pass through the sanitizer's
// interceptors. Both the worker's finished() and the GUI thread's own signals post into
// the GUI thread's event queue, which Qt moves with memmove under a futex lock the
// sanitizer cannot see; every queued cross-thread signal then reads as a race inside Qt.
// Interceptor calls made from uninstrumented code are therefore not reported; accesses of
// our own code are checked as before, also against Qt's copies.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
#endif

namespace {

constexpr int frameHeight = 16;

// Frame n of the stream: blocks of 20 frames alternate width, depth and gray/colour, so
// the worker's store is remade and its reuse is crossed by width changes.
boost::shared_ptr<DisplaySceneFrame> streamFrame(int n)
{
    const int block = n / 20;
    const int width = block % 2 ? 1000 : 640;
    const int bpp = block % 3 == 0 ? 8 : 12;
    const bool gray = block % 4 != 3;
    const std::uint64_t top = (std::uint64_t(1) << bpp) - 1;
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, frameHeight, bpp, gray));
    for (int y = 0; y < frameHeight; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint64_t v = std::uint64_t(x * 13 + y * 101 + n * 7) % (top + 1);
            if (gray)
                buffer->setPixelValueGray(x, y, v);
            else
                buffer->setPixelValueColor(x, y, v, top - v, (v * 3) % (top + 1));
        }
    buffer->setComplete();
    return frameOf(buffer);
}

// Frames made on a thread of their own, handed to the GUI thread through a short queue.
// A buffer is never written again once handed out, as a tool worker reads it without a lock.
class FrameStream
{
public:
    explicit FrameStream(int frames)
        : producer([this, frames] { produce(frames); })
    {
    }
    ~FrameStream()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        space.notify_all();
        producer.join();
    }

    // GUI thread: the next frame, or empty when none is waiting.
    boost::shared_ptr<DisplaySceneFrame> take()
    {
        boost::shared_ptr<DisplaySceneFrame> frame;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queue.empty())
                return frame;
            frame = queue.front();
            queue.pop_front();
        }
        space.notify_one();
        return frame;
    }

    bool drained()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return done && queue.empty();
    }

private:
    // Producer thread.
    void produce(int frames)
    {
        for (int n = 0; n < frames; ++n) {
            boost::shared_ptr<DisplaySceneFrame> frame = streamFrame(n);
            std::unique_lock<std::mutex> lock(mutex);
            space.wait(lock, [this] { return stopping || queue.size() < 2; });
            if (stopping)
                return;
            queue.push_back(frame);
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }

    // Guards queue, done and stopping; the producer waits on space.
    std::mutex mutex;
    std::condition_variable space;
    std::deque<boost::shared_ptr<DisplaySceneFrame>> queue;
    bool done = false;
    bool stopping = false;
    std::thread producer;
};

void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

} // namespace

class TestLineProfileStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { dropOffscreenSizeHintWarnings(); }
    void framesAtFullSpeed();
};

void TestLineProfileStress::framesAtFullSpeed()
{
    Qt4LineProfileDialog dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // Results as the dialog takes them, checked on the GUI thread.
    int results = 0;
    int badPictures = 0;
    QObject::connect(LineProfileInspector::worker(&dialog), &QThread::finished, &dialog, [&] {
        ++results;
        const QPixmap& pixmap = LineProfileInspector::d(&dialog).pixmap;
        if (!pixmap.isNull() && (pixmap.height() != 256
                                 || (pixmap.width() != 640 && pixmap.width() != 1000)))
            ++badPictures;
    });

    std::atomic<bool> stopWaiting{false};
    std::atomic<int> waits{0};
    std::thread notifier([&] {
        while (!stopWaiting.load()) {
            dialog.waitForThread();
            ++waits;
            std::this_thread::yield();
        }
    });

    int framesShown = 0;
    {
        FrameStream stream(400);
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] {
            if (boost::shared_ptr<DisplaySceneFrame> frame = stream.take()) {
                ++framesShown;
                // An empty frame now and then, as when acquisition restarts.
                if (framesShown % 37 == 0)
                    dialog.setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());
                dialog.setSceneFrame(frame);
            }
        });
        feed.start(0);

        int step = 0;
        QTimer fiddle;
        QObject::connect(&fiddle, &QTimer::timeout, [&] {
            ++step;
            dialog.yPositionSpinBox->setValue(step % frameHeight);
            if (step % 3 == 0)
                dialog.zoomSpinBox->setValue(1 + step % 5);
            if (step % 4 == 0)
                dialog.verticalMarkerSpinBox->setValue(step % 300);
            if (step % 5 == 0)
                dialog.horizontalMarkerSpinBox->setValue(step % 200);
            dialog.profileDetailScrollBar->setValue(step * 37 % (dialog.profileDetailScrollBar->maximum() + 1));
            movePointer(dialog.profileDetailWidget, step % 700);
        });
        fiddle.start(1);

        QTRY_VERIFY_WITH_TIMEOUT(stream.drained(), 240000);
        feed.stop();
        fiddle.stop();
    }
    stopWaiting = true;
    notifier.join();

    qInfo("frames %d, results %d, waits %d", framesShown, results, waits.load());
    QCOMPARE(framesShown, 400);
    QVERIFY(results > 0);
    QCOMPARE(badPictures, 0);
    QVERIFY(waits.load() > 0);

    // Let the last runs and their results settle; then a request on an idle worker must
    // show exactly its frame and line.
    const auto settle = [&] {
        for (int i = 0; i < 3; ++i) {
            dialog.waitForThread();
            QCoreApplication::sendPostedEvents(&dialog);
        }
    };
    settle();
    const int line = (dialog.yPositionSpinBox->value() + 5) % frameHeight;
    int before = results;
    dialog.yPositionSpinBox->setValue(line);
    QTRY_VERIFY(results > before);
    settle();

    boost::shared_ptr<DisplaySceneFrame> last = streamFrame(61); // colour, 1000 wide
    before = results;
    dialog.setSceneFrame(last);
    QTRY_VERIFY(results > before);
    const QString difference = firstDifference(LineProfileInspector::d(&dialog).pixmap.toImage(),
                                               expectedPicture(*last->frameBuffer(), line));
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

QTEST_MAIN(TestLineProfileStress)
#include "tst_line_profile_stress.moc"
