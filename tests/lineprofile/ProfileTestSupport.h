#pragma once

// Shared by the line profile tests: white-box access to the dialog, frame builders, the
// picture as the drawing rules define it (computed pixel by pixel the slow way, not as the
// worker does), and a dialog that counts the results it takes from its worker.

#include "lineprofile/Qt4LineProfileDialog.h"
#include "lineprofile/Qt4LineProfileDialogD.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QCoreApplication>
#include <QImage>
#include <QMetaType>
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

// Fails with the description of the first difference, if there is one.
#define VERIFY_NO_DIFFERENCE(description)                                                     \
    do {                                                                                      \
        const QString difference_ = (description);                                            \
        QVERIFY2(difference_.isEmpty(), qPrintable(difference_));                             \
    } while (false)

using Values = std::vector<std::uint64_t>; // one a sample for gray, R, G, B for colour
Q_DECLARE_METATYPE(Values)

namespace profiletest {

using vexo::core::DisplaySceneFrame;
using vexo::core::FrameBuffer;
using vexo::core::LineProfileInspector;
using vexo::core::Qt4LineProfileDialog;
using vexo::core::Qt4LineProfileThread;
using Frame = boost::shared_ptr<DisplaySceneFrame>;

// The word of pixel (x, row) for line y. Values are compared unclamped, as 64-bit numbers.
inline std::uint32_t expectedWord(const FrameBuffer& buffer, int x, int row, int y)
{
    const std::uint64_t level = 255 - static_cast<std::uint64_t>(row);
    const int bpp = buffer.bitsPerPixel();
    std::uint64_t v[3] = {0, 0, 0};
    if (buffer.isGray())
        buffer.getPixelValueGray(x, y, &v[0]);
    else
        buffer.getPixelValueColor(x, y, &v[0], &v[1], &v[2]);
    std::uint32_t curve = 0;
    std::uint32_t fill = 0;
    for (int c = 0; c < (buffer.isGray() ? 1 : 3); ++c) {
        const std::uint64_t s = bpp < 8 ? v[c] << (8 - bpp) : v[c] >> (bpp - 8);
        const std::uint32_t channel = buffer.isGray() ? 0xFFFFFFu : 0xFF0000u >> (8 * c);
        curve |= s == level ? channel : 0u;
        fill |= s > level ? channel & 0x444444u : 0u;
    }
    return curve != 0 ? curve : fill; // curve points hide the fills
}

inline QImage expectedPicture(const FrameBuffer& buffer, int y)
{
    QImage picture(buffer.width(), 256, QImage::Format_RGB32);
    for (int row = 0; row < 256; ++row)
        for (int x = 0; x < buffer.width(); ++x)
            picture.setPixel(x, row, 0xFF000000u | expectedWord(buffer, x, row, y));
    return picture;
}

// The first differing pixel as "x,row: got expected", empty when equal.
inline QString firstDifference(const QImage& got, const QImage& expected)
{
    if (got.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(got.width()).arg(got.height()).arg(expected.width()).arg(expected.height());
    for (int row = 0; row < got.height(); ++row)
        for (int x = 0; x < got.width(); ++x)
            if ((got.pixel(x, row) & 0xFFFFFFu) != (expected.pixel(x, row) & 0xFFFFFFu))
                return QStringLiteral("%1,%2: %3 expected %4").arg(x).arg(row)
                    .arg(got.pixel(x, row) & 0xFFFFFFu, 6, 16, QLatin1Char('0'))
                    .arg(expected.pixel(x, row) & 0xFFFFFFu, 6, 16, QLatin1Char('0'));
    return QString();
}

// A buffer whose pixel (x, y) is f(x, y); colour takes (v, 2v mod 256, y) of that value v.
inline boost::shared_ptr<FrameBuffer> rampBuffer(int width, int height, int bpp, bool gray,
                                                 const std::function<std::uint64_t(int, int)>& f)
{
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, height, bpp, gray));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint64_t v = f(x, y);
            if (gray)
                buffer->setPixelValueGray(x, y, v);
            else
                buffer->setPixelValueColor(x, y, v, (2 * v) % 256, y);
        }
    buffer->setComplete();
    return buffer;
}

// Three lines; line 1 holds `line`, lines 0 and 2 other values, so reading the wrong line
// shows.
inline boost::shared_ptr<FrameBuffer> middleLineBuffer(int bpp, bool gray, const Values& line)
{
    const int width = static_cast<int>(gray ? line.size() : line.size() / 3);
    boost::shared_ptr<FrameBuffer> buffer(new FrameBuffer(width, 3, bpp, gray));
    for (int x = 0; x < width; ++x) {
        if (gray) {
            buffer->setPixelValueGray(x, 0, 1);
            buffer->setPixelValueGray(x, 1, line[x]);
            buffer->setPixelValueGray(x, 2, 0xffff);
        } else {
            buffer->setPixelValueColor(x, 0, 1, 1, 1);
            buffer->setPixelValueColor(x, 1, line[3 * x], line[3 * x + 1], line[3 * x + 2]);
            buffer->setPixelValueColor(x, 2, 0xffff, 0, 0xffff);
        }
    }
    buffer->setComplete();
    return buffer;
}

inline Frame frameOf(const boost::shared_ptr<FrameBuffer>& buffer)
{
    Frame frame(new DisplaySceneFrame(8, 8));
    frame->setFrameBuffer(buffer);
    return frame;
}

inline void movePointer(QWidget* widget, int x)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 10), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
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
    QImage picture() const { return LineProfileInspector::d(dialog.get()).pixmap.toImage(); }
    // Empty when the picture on screen is the one of `frame`'s line y.
    QString pictureDifference(const Frame& frame, int y) const
    {
        return firstDifference(picture(), expectedPicture(*frame->frameBuffer(), y));
    }
};

} // namespace profiletest
