#pragma once

// Shared by the line tool tests: white-box access to both tools, frames to feed them, a
// worker's run on the test's thread, a frame buffer that holds a run until released, and
// per tool a traits struct, so that one test body checks both tools.

#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "lineprofile/Qt4LineProfileCanvasD.h"
#include "lineprofile/Qt4LineProfileDialogD.h"

#include <boost/make_shared.hpp>

#include <QMouseEvent>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>

namespace vexo::core {
struct LineProfileInspector { static Qt4LineProfileDialog::D& d(Qt4LineProfileDialog* dialog) { return *dialog->d; } };
struct LineProfileCanvasInspector { static const Qt4LineProfileCanvas::D& d(const Qt4LineProfileCanvas& c) { return *c.d; } };
struct LineHistogramInspector { static Qt4LineHistogramDialog::D& d(Qt4LineHistogramDialog* dialog) { return *dialog->d; } };
} // namespace vexo::core

using Values = std::vector<std::uint64_t>; // one a sample for gray, R, G, B for colour
Q_DECLARE_METATYPE(Values)

namespace linetooltest {

using namespace vexo::core;
using Frame = boost::shared_ptr<DisplaySceneFrame>;

// A frame of the buffer, whose sample c (0 for gray, R G B for colour) of pixel (x, y) becomes
// f(x, y, c); the buffer is then complete.
template <typename Samples>
Frame filled(const boost::shared_ptr<FrameBuffer>& buffer, Samples f)
{
    for (int y = 0; y < buffer->height(); ++y)
        for (int x = 0; x < buffer->width(); ++x)
            buffer->isGray() ? buffer->setPixelValueGray(x, y, f(x, y, 0)) : buffer->setPixelValueColor(x, y, f(x, y, 0), f(x, y, 1), f(x, y, 2));
    buffer->setComplete();
    auto frame = boost::make_shared<DisplaySceneFrame>(8, 8);
    frame->setFrameBuffer(buffer);
    return frame;
}

// Line 1 holds `line`; line 0 is all 1 and line 2 all 0xffff (colour: green 0), so reading
// the wrong line shows.
inline Frame middleLineFrame(int bits, bool gray, const Values& line)
{
    return filled(boost::make_shared<FrameBuffer>(int(gray ? line.size() : line.size() / 3), 3, bits, gray), [&](int x, int y, int c) {
        return y == 1 ? line[gray ? x : 3 * x + c] : y == 0 ? 1 : c == 1 ? 0 : 0xffff;
    });
}

// Every line different, and every seed, so the picture tells which line of which frame was read.
inline Frame linesFrame(const boost::shared_ptr<FrameBuffer>& buffer, int seed = 0)
{
    const int bits = buffer->bitsPerPixel();
    return filled(buffer, [=](int x, int y, int c) { return std::uint64_t((x * (y + 1 + seed) + 7 * y + 5 * c) % (1 << bits)); });
}
inline Frame linesFrame(int width, int height, int bits, bool gray = true, int seed = 0)
{
    return linesFrame(boost::make_shared<FrameBuffer>(width, height, bits, gray), seed);
}

// A gray buffer whose width(), the first thing a run asks after taking its request, waits
// until released, so a test can act while a run is certainly in progress. Only other
// threads wait: the dialog reads the size on the thread that made the buffer.
struct GatedBuffer : FrameBuffer
{
    GatedBuffer(int width, int height) : FrameBuffer(width, height, 8, true) {}
    int width() const override
    {
        if (std::this_thread::get_id() != maker)
            for (entered = true; !open;)
                std::this_thread::yield();
        return FrameBuffer::width();
    }
    mutable std::atomic<bool> entered{false}, open{false};
    const std::thread::id maker = std::this_thread::get_id();
};

template <typename Worker> struct DirectRun : Worker { using Worker::run; };

// The picture a tool's worker draws for line y of the frame.
template <typename T>
QImage runOn(const Frame& frame, int y)
{
    DirectRun<typename T::Worker> worker;
    worker.setFrame(frame);
    worker.setYPosition(y);
    worker.run();
    return worker.picture;
}

// The serial number of an image's pixel store: a store made anew has a new one even at the
// same address, writes into it keep it.
inline qint64 storeOf(const QImage& image) { return image.cacheKey() >> 32; }

inline void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

struct ProfileTool
{
    using Dialog = Qt4LineProfileDialog;
    using Worker = Qt4LineProfileThread;
    static constexpr int gatedWidth = 8192; // a picture of 8 MB
    static LineToolThread& worker(Dialog& dialog) { return *LineProfileInspector::d(&dialog).thread; }
    static const QPixmap& pixmap(Dialog& dialog) { return LineProfileInspector::d(&dialog).pixmap; }
    static QWidget* canvas(Dialog& dialog) { return dialog.profileOverviewWidget; }
    // Pages, range labels (a number as n), what is enabled (readout, range, controls, line)
    // and the line and marker maxima.
    static QString state(Dialog& dialog)
    {
        auto label = [](QLabel* l) { return l->text() == QLatin1String("-") ? l->text() : QStringLiteral("n"); };
        return QStringLiteral("pages %1 %2, labels %3 %4, enabled %5%6%7%8, maxima %9 %10 %11")
            .arg(dialog.overviewStackedWidget->currentIndex()).arg(dialog.detailStackedWidget->currentIndex())
            .arg(label(dialog.minXLabel), label(dialog.maxXLabel))
            .arg(dialog.positionLabel->isEnabled()).arg(dialog.minXLabel->isEnabled())
            .arg(dialog.lineProfileControlsGroupBox->isEnabled()).arg(dialog.yPositionSpinBox->isEnabled())
            .arg(dialog.yPositionSpinBox->maximum()).arg(dialog.verticalMarkerSpinBox->maximum())
            .arg(dialog.horizontalMarkerSpinBox->maximum());
    }
    static QString noBuffer() { return QStringLiteral("pages 0 0, labels - -, enabled 0000, maxima 0 -1 -1"); }
    static QString shownState(int width, int height, int bits)
    {
        return QStringLiteral("pages 1 1, labels n n, enabled 1011, maxima %1 %2 %3").arg(height - 1).arg(width - 1).arg((1 << bits) - 1);
    }
};

struct HistogramTool
{
    using Dialog = Qt4LineHistogramDialog;
    using Worker = Qt4LineHistogramThread;
    static constexpr int gatedWidth = 500000; // still counting when the dialog clears
    static LineToolThread& worker(Dialog& dialog) { return *LineHistogramInspector::d(&dialog).thread; }
    static const QPixmap& pixmap(Dialog& dialog) { return LineHistogramInspector::d(&dialog).pixmap; }
    static QWidget* canvas(Dialog& dialog) { return dialog.histogramWidget; }
    // The page, whether the line is enabled (box, label), its maximum and what the canvas
    // paints: its background, or the picture stretched to its size pixel for pixel.
    static QString state(Dialog& dialog)
    {
        const QImage painted = canvas(dialog)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QImage background(canvas(dialog)->size(), QImage::Format_RGB32);
        background.fill(canvas(dialog)->palette().color(canvas(dialog)->backgroundRole()));
        const QImage stretched = pixmap(dialog).toImage().scaled(canvas(dialog)->size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        return QStringLiteral("page %1, line %2 %3, maximum %4, canvas %5").arg(dialog.stackedWidget->currentIndex())
            .arg(dialog.yPositionSpinBox->isEnabled()).arg(dialog.yPositionLabel->isEnabled()).arg(dialog.yPositionSpinBox->maximum())
            .arg(painted == background ? "none" : painted == stretched.convertToFormat(QImage::Format_RGB32) ? "the picture" : "another");
    }
    static QString noBuffer() { return QStringLiteral("page 0, line 0 0, maximum 0, canvas none"); }
    static QString shownState(int, int height, int) { return QStringLiteral("page 1, line 1 1, maximum %1, canvas the picture").arg(height - 1); }
};

// Runs body(ProfileTool()) or body(HistogramTool()), as the current row's "tool" says.
template <typename Body>
void forTool(Body body)
{
    QFETCH(QString, tool);
    tool == QLatin1String("profile") ? body(ProfileTool()) : body(HistogramTool());
}
// A row of a table whose first column is "tool".
inline QTestData& row(const char* tool, const char* name) { return QTest::addRow("%s: %s", tool, name) << QString(tool); }
inline void bothTools()
{
    QTest::addColumn<QString>("tool");
    for (const char* tool : {"profile", "histogram"})
        QTest::newRow(tool) << QString(tool);
}

// A tool's dialog and the number of results it took: the count is connected after the
// dialog's own slot, so once it moves the dialog has taken that result.
template <typename T>
struct Rig
{
    std::unique_ptr<typename T::Dialog> dialog{new typename T::Dialog(nullptr)};
    LineToolThread& worker = T::worker(*dialog);
    int results = 0;
    QMetaObject::Connection counting = QObject::connect(&worker, &QThread::finished, dialog.get(), [this] { ++results; });

    // Hidden, the dialog keeps the request; showing it runs once, for `frame` at line y.
    bool showWith(const Frame& frame, int y = 0)
    {
        dialog->setSceneFrame(frame);
        dialog->yPositionSpinBox->setValue(y);
        dialog->show();
        settle();
        return results == 1;
    }
    // Until no run is in progress and every result is taken; finished() is posted before
    // wait() returns. Taking a result may start the next run, which may end unseen.
    void settle()
    {
        for (int seen = -1; seen != results || worker.isRunning();) {
            seen = results;
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        }
    }
    QImage picture() const { return T::pixmap(*dialog).toImage().convertToFormat(QImage::Format_RGB32); }
};

// The offscreen platform warns each time a window's size limits change, which buries real
// messages; that warning is dropped, everything else passes through.
inline void dropOffscreenSizeHintWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        if (!(type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"))) && previous)
            previous(type, context, message);
    });
}

} // namespace linetooltest
