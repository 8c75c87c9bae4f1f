#pragma once

// Shared by the line profile tests: white-box access to the dialog, frame builders, the
// worker's own run on the test's thread, and a dialog that counts the results it takes
// from its worker.

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace vexo {
namespace core {

struct LineProfileInspector
{
    static Qt4LineProfileDialog::D& d(Qt4LineProfileDialog* dialog) { return *dialog->d; }
};

} // namespace core
} // namespace vexo

using Values = std::vector<std::uint64_t>; // one a sample for gray, R, G, B for colour
Q_DECLARE_METATYPE(Values)

namespace profiletest {

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
using vexo::core::Qt4LineProfileThread;
using Frame = boost::shared_ptr<DisplaySceneFrame>;

// Sample c (0 for gray, R G B for colour) of pixel (x, y) is f(x, y, c).
inline Frame frameOf(int width, int height, int bpp, bool gray,
                     const std::function<std::uint64_t(int, int, int)>& f)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bpp, gray));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            gray ? buffer->setPixelValueGray(x, y, f(x, y, 0))
                 : buffer->setPixelValueColor(x, y, f(x, y, 0), f(x, y, 1), f(x, y, 2));
    buffer->setComplete();
    Frame frame(new DisplaySceneFrame(8, 8));
    frame->setFrameBuffer(buffer);
    return frame;
}

// Three lines; line 1 holds `line`, line 0 is all 1 and line 2 all 0xffff (colour: green
// 0), so reading the wrong line shows.
inline Frame middleLineFrame(int bpp, bool gray, const Values& line)
{
    return frameOf(int(gray ? line.size() : line.size() / 3), 3, bpp, gray, [&](int x, int y, int c) {
        return y == 1 ? line[gray ? x : 3 * x + c] : y == 0 ? 1 : c == 1 ? 0 : 0xffff;
    });
}

inline Frame frameWithoutBuffer()
{
    return Frame(new DisplaySceneFrame(8, 8));
}

// The worker's run, callable on the test's own thread.
struct DirectRun : Qt4LineProfileThread
{
    using Qt4LineProfileThread::run;
};

// The picture the worker draws for line y of the frame: what the dialog must then show.
inline QImage runOn(const Frame& frame, int y)
{
    DirectRun worker;
    worker.frame = frame;
    worker.yPosition = y;
    worker.run();
    return worker.image ? worker.image->copy() : QImage(); // a deep copy: the store goes with the worker
}

inline void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// A dialog and the number of results it took from its worker. The count is connected after
// the dialog's own slot, so once it moves the dialog has taken that result.
struct Shown
{
    int results = 0;
    std::unique_ptr<Qt4LineProfileDialog> dialog{new Qt4LineProfileDialog(nullptr)};
    Qt4LineProfileThread* worker = LineProfileInspector::d(dialog.get()).thread.get();
    QMetaObject::Connection counting =
        QObject::connect(worker, &QThread::finished, dialog.get(), [this] { ++results; });

    // Shows the dialog with `frame` at line y; true once that result is on screen.
    bool showWith(const Frame& frame, int y = 0)
    {
        dialog->show();
        int before = results;
        dialog->setSceneFrame(frame);
        if (!waitForResult(before))
            return false;
        if (y == dialog->yPositionSpinBox->value())
            return true;
        before = results;
        dialog->yPositionSpinBox->setValue(y);
        return waitForResult(before);
    }
    // A run ended after `before` and the dialog has taken its result.
    bool waitForResult(int before)
    {
        return QTest::qWaitFor([&] { return results > before; })
               && dialog->overviewStackedWidget->currentIndex() == 1;
    }
    // Until no run is in progress and every result is taken; a run's finished() is posted
    // before wait() returns.
    void settle()
    {
        do {
            dialog->waitForThread();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        } while (worker->isRunning());
    }
    QImage picture() const
    {
        return LineProfileInspector::d(dialog.get()).pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    }
};

// The offscreen platform warns each time a window's size limits change (the dialog's fixed
// height and its layout change them often). The warning says nothing about the code under
// test and would bury real messages, so it is dropped; everything else passes through.
inline void dropOffscreenSizeHintWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        const bool noise = type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support"));
        if (!noise && previous)
            previous(type, context, message);
    });
}

} // namespace profiletest
