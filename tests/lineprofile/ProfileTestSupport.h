#pragma once

// Shared by the line profile tests: white-box access to the dialog, frame builders, the
// worker's own run on the test's thread, and a dialog that counts the results it takes.

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QMouseEvent>
#include <QTest>

#include <functional>

namespace vexo::core {
struct LineProfileInspector { static Qt4LineProfileDialog::D& d(Qt4LineProfileDialog* dialog) { return *dialog->d; } };
} // namespace vexo::core

using Values = std::vector<std::uint64_t>; // one a sample for gray, R, G, B for colour
Q_DECLARE_METATYPE(Values)

namespace profiletest {

using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
using vexo::core::Qt4LineProfileThread;
using Frame = boost::shared_ptr<vexo::core::DisplaySceneFrame>;

// Sample c (0 for gray, R G B for colour) of pixel (x, y) is f(x, y, c).
inline Frame frameOf(int width, int height, int bpp, bool gray, const std::function<std::uint64_t(int, int, int)>& f)
{
    boost::shared_ptr<vexo::core::FrameBuffer> buffer(new vexo::core::FrameBuffer(width, height, bpp, gray));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            gray ? buffer->setPixelValueGray(x, y, f(x, y, 0))
                 : buffer->setPixelValueColor(x, y, f(x, y, 0), f(x, y, 1), f(x, y, 2));
    buffer->setComplete();
    Frame frame(new vexo::core::DisplaySceneFrame(8, 8));
    frame->setFrameBuffer(buffer);
    return frame;
}

// Line 1 holds `line`; line 0 is all 1 and line 2 all 0xffff (colour: green 0), so reading
// the wrong line shows.
inline Frame middleLineFrame(int bpp, bool gray, const Values& line)
{
    return frameOf(int(gray ? line.size() : line.size() / 3), 3, bpp, gray, [&](int x, int y, int c) {
        return y == 1 ? line[gray ? x : 3 * x + c] : y == 0 ? 1 : c == 1 ? 0 : 0xffff;
    });
}

inline Frame frameWithoutBuffer() { return Frame(new vexo::core::DisplaySceneFrame(8, 8)); }

struct DirectRun : Qt4LineProfileThread { using Qt4LineProfileThread::run; };

// The picture the worker draws for line y of the frame, as a deep copy.
inline QImage runOn(const Frame& frame, int y)
{
    DirectRun worker;
    worker.frame = frame;
    worker.yPosition = y;
    worker.run();
    return worker.image ? worker.image->copy() : QImage();
}

inline void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

// A dialog and the number of results it took: the count is connected after the dialog's own
// slot, so once it moves the dialog has taken that result.
struct Shown
{
    int results = 0;
    std::unique_ptr<Qt4LineProfileDialog> dialog{new Qt4LineProfileDialog(nullptr)};
    Qt4LineProfileThread* worker = LineProfileInspector::d(dialog.get()).thread.get();
    QMetaObject::Connection counting = QObject::connect(worker, &QThread::finished, dialog.get(), [this] { ++results; });

    // Hidden, the dialog keeps the request; showing it runs once, for `frame` at line y.
    bool showWith(const Frame& frame, int y = 0)
    {
        dialog->setSceneFrame(frame);
        dialog->yPositionSpinBox->setValue(y);
        dialog->show();
        return waitForResult(0);
    }
    bool waitForResult(int before)
    {
        return QTest::qWaitFor([&] { return results > before; }) && dialog->overviewStackedWidget->currentIndex() == 1;
    }
    // Until no run is in progress and every result is taken; finished() is posted before wait() returns.
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

} // namespace profiletest
