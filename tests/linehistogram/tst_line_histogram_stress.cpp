// Frames at full speed from a producer thread while the dialog is shown, hidden and cleared
// and its line changes, with a second thread waiting for the worker the way the scene does
// when it invalidates its buffers. Meant to be run under ThreadSanitizer as well.

#include "HistogramTestSupport.h"

#include <QDockWidget>
#include <QSpinBox>
#include <QStackedWidget>
#include <QtTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace histogramtest;
using vexo::core::LineHistogramInspector;
using vexo::core::Qt4LineHistogramDialog;

namespace {

constexpr int framesShown = 400;
constexpr int frameWidth = 2048;
constexpr int frameHeight = 24;

// Wakes the invalidating thread now and then, as the scene invalidates its buffers.
class InvalidationRequests
{
public:
    // GUI thread.
    void request()
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++requested;
        changed.notify_all();
    }
    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
        changed.notify_all();
    }
    // Invalidating thread: false once stopped.
    bool next()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return stopped || served < requested; });
        if (stopped)
            return false;
        ++served;
        return true;
    }
    int servedCount()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return served;
    }

private:
    std::mutex mutex; // guards requested, served and stopped
    std::condition_variable changed;
    int requested = 0;
    int served = 0;
    bool stopped = false;
};

// The newest frame from the producer, as the window keeps its pending frame: a frame not
// taken in time is replaced. Producer thread and GUI thread.
class Mailbox
{
public:
    void put(boost::shared_ptr<DisplaySceneFrame> frame)
    {
        std::lock_guard<std::mutex> lock(mutex);
        newest.swap(frame);
    }
    boost::shared_ptr<DisplaySceneFrame> take()
    {
        std::lock_guard<std::mutex> lock(mutex);
        boost::shared_ptr<DisplaySceneFrame> frame;
        frame.swap(newest);
        return frame;
    }

private:
    std::mutex mutex; // guards newest
    boost::shared_ptr<DisplaySceneFrame> newest;
};

// Producer thread: a fresh buffer per frame, gray and colour of several depths in turn.
boost::shared_ptr<DisplaySceneFrame> producedFrame(int n)
{
    static const int depths[] = {8, 12, 4, 10, 16};
    const int bits = depths[n % 5];
    const bool gray = n % 3 != 0;
    auto buffer = boost::make_shared<FrameBuffer>(frameWidth, frameHeight, bits, gray);
    const unsigned mask = (1u << bits) - 1;
    for (int y = 0; y < frameHeight; ++y) {
        std::uint16_t* line = buffer->line(y);
        const int samples = frameWidth * buffer->channels();
        for (int i = 0; i < samples; ++i)
            line[i] = static_cast<std::uint16_t>((i * (y + 3) + n * 17) & mask);
    }
    buffer->setComplete();
    return frameOver(buffer);
}

} // namespace

class TestLineHistogramStress : public QObject
{
    Q_OBJECT

private slots:
    void framesAtFullSpeed();
};

void TestLineHistogramStress::framesAtFullSpeed()
{
    QDockWidget dock;
    auto* dialog = new Qt4LineHistogramDialog(nullptr);
    dock.setFloating(true);
    dock.setWidget(dialog);
    dock.show();
    auto& worker = LineHistogramInspector::worker(dialog);

    QObject receiver;
    int results = 0;
    QObject::connect(&worker, &QThread::finished, &receiver, [&] { ++results; },
                     Qt::QueuedConnection);

    Mailbox mailbox;
    InvalidationRequests invalidations;
    std::atomic<bool> enough{false};

    std::thread producer([&] {
        for (int n = 0; !enough; ++n)
            mailbox.put(producedFrame(n));
    });
    // As the scene's notification thread does before it drops its buffers.
    std::thread invalidator([&] {
        while (invalidations.next())
            dialog->waitForThread();
    });

    int taken = 0;
    for (int round = 0; taken < framesShown; ++round) {
        QCoreApplication::processEvents();
        // Now and then let a run end and start the next before its result is delivered,
        // so a result is taken while a later run draws.
        if (round % 5 == 1)
            dialog->waitForThread();
        if (boost::shared_ptr<DisplaySceneFrame> frame = mailbox.take()) {
            dialog->setSceneFrame(frame);
            ++taken;
        }
        if (round % 7 == 3)
            dialog->yPositionSpinBox->setValue((round / 7) % (frameHeight + 3));
        if (round % 11 == 5)
            invalidations.request();
        if (round % 97 == 50)
            dock.hide();
        if (round % 97 == 60)
            dock.show();
        if (round % 151 == 75)
            dialog->setSceneFrame({});
    }
    enough = true;
    producer.join();
    invalidations.stop();
    invalidator.join();
    QVERIFY(invalidations.servedCount() > 0);

    // Quiet again: the next request is computed from exactly that frame and line.
    const auto settle = [&] {
        do {
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } while (worker.isRunning());
    };
    dock.show();
    settle();
    QVERIFY(results > 0);

    const boost::shared_ptr<DisplaySceneFrame> last = producedFrame(9); // colour, 16 bits
    dialog->setSceneFrame(last);
    dialog->yPositionSpinBox->setValue(frameHeight - 2);
    settle();
    // The line change may have come while the frame's run was in progress; ask once more
    // for certain, now that the worker is idle.
    dialog->setSceneFrame(last);
    settle();

    QCOMPARE(dialog->stackedWidget->currentIndex(), 1);
    const QVector<std::uint32_t> want = rulePicture(*last->frameBuffer(), frameHeight - 2);
    const QVector<std::uint32_t> got = wordsOf(LineHistogramInspector::d(dialog).pixmap.toImage());
    QVERIFY2(got == want, firstDifference(got, want).constData());
}

QTEST_MAIN(TestLineHistogramStress)
#include "tst_line_histogram_stress.moc"
