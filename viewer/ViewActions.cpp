#include "ViewActions.h"

#include <algorithm>

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QScrollBar>
#include <QSpinBox>

#include <cstdint>
#include <functional>

using vexo::core::DisplayScene;
using vexo::core::Qt4DisplaySceneVisualizer;

namespace {
const int minStep = 0;
const int unityStep = 6;
const int maxStep = 12;

// Canvas pixels a frame length takes at a zoom step. Zoomed out, the scene samples every
// n-th image pixel starting with the first, so a partial last group still takes a canvas
// pixel: rounding down here would let the last column or line fall off the canvas.
std::int64_t canvasLength(int imageLength, int step)
{
    if (step >= unityStep)
        return std::int64_t(imageLength) << (step - unityStep);
    const std::int64_t n = std::int64_t(1) << (unityStep - step);
    return (imageLength + n - 1) / n;
}
} // namespace

ViewActions::ViewActions(Qt4DisplaySceneVisualizer* window)
    : QObject(window)
    , window(window)
    , zoom(window->findChild<QSpinBox*>(QStringLiteral("zoomValueSpinBox")))
    , horizontal(window->findChild<QScrollBar*>(QStringLiteral("horizontalScrollBar")))
    , vertical(window->findChild<QScrollBar*>(QStringLiteral("verticalScrollBar")))
    , canvas(window->findChild<QWidget*>(QStringLiteral("canvasWidget")))
{
    QMenu* menu = window->menuBar()->addMenu(tr("&View"));
    // Ctrl+S is the window's own hex/dec switch and is left alone.
    menu->addAction(addAction(tr("&Fit to Window"), {QKeySequence(Qt::CTRL + Qt::Key_F)}, [this] { fit(); }));
    menu->addAction(
        addAction(tr("&Actual Size (1:1)"), {QKeySequence(Qt::CTRL + Qt::Key_0)}, [this] { showOneToOne(); }));
    menu->addAction(addAction(tr("Zoom &In"), QKeySequence::keyBindings(QKeySequence::ZoomIn), [this] { zoomIn(); }));
    menu->addAction(
        addAction(tr("Zoom &Out"), QKeySequence::keyBindings(QKeySequence::ZoomOut), [this] { zoomOut(); }));

    QMenu* scrolling = menu->addMenu(tr("&Scroll"));
    const struct
    {
        const char* text;
        Qt::Key key;
        bool vertical;
        bool forward;
    } directions[] = {
        {QT_TR_NOOP("Left"), Qt::Key_Left, false, false},
        {QT_TR_NOOP("Right"), Qt::Key_Right, false, true},
        {QT_TR_NOOP("Up"), Qt::Key_Up, true, false},
        {QT_TR_NOOP("Down"), Qt::Key_Down, true, true},
    };
    for (bool page : {false, true}) {
        for (const auto& d : directions) {
            const QString text = (page ? tr("Page %1") : tr("Step %1")).arg(tr(d.text));
            const QKeySequence key(page ? Qt::SHIFT + d.key : int(d.key));
            scrolling->addAction(addAction(
                text, {key}, [this, d, page] { scroll(d.vertical ? vertical : horizontal, d.forward, page); }));
        }
    }
    // Arrows are shortcuts so that a focused button does not take them for moving the
    // focus; a focused slider or spin box keeps them (see eventFilter).
    window->installEventFilter(this);
}

QAction* ViewActions::addAction(const QString& text, const QList<QKeySequence>& keys, const std::function<void()>& run)
{
    auto* action = new QAction(text, this);
    connect(action, &QAction::triggered, this, run);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    // On the window too, so that the keys work while the menu is closed.
    window->addAction(action);
    return action;
}

int ViewActions::fitStep(const QSize& frame, const QSize& canvas)
{
    for (int step = maxStep; step > minStep; --step)
        if (canvasLength(frame.width(), step) <= canvas.width()
            && canvasLength(frame.height(), step) <= canvas.height())
            return step;
    return minStep;
}

void ViewActions::fit()
{
    fitToCanvas(true);
}

void ViewActions::fitToCanvas(bool again)
{
    const boost::shared_ptr<DisplayScene> attached = window->scene();
    if (!attached || !zoom || !canvas || !horizontal || !vertical)
        return;
    const QSize frame(attached->width(), attached->height());
    if (frame.isEmpty())
        return;
    const bool barsShown = !horizontal->isHidden() || !vertical->isHidden();
    setZoomStep(fitStep(frame, canvas->size()));
    // Shown scroll bars take room from the canvas; once the window has hidden them and its
    // layout has given the room back, a larger step may fit. The window posts its own
    // re-measuring, so a call queued after it sees the grown canvas.
    if (barsShown && again)
        QMetaObject::invokeMethod(
            this, [this] { fitToCanvas(false); }, Qt::QueuedConnection);
}

void ViewActions::showOneToOne()
{
    setZoomStep(unityStep);
}

void ViewActions::zoomIn()
{
    if (zoom)
        setZoomStep(zoom->value() + 1);
}

void ViewActions::zoomOut()
{
    if (zoom)
        setZoomStep(zoom->value() - 1);
}

void ViewActions::setZoomStep(int step)
{
    // The spin box's valueChanged runs the window's own zoom handling and tells the scene.
    if (zoom)
        zoom->setValue(qBound(minStep, step, maxStep));
}

void ViewActions::scroll(QScrollBar* bar, bool forward, bool page)
{
    // A hidden bar means the frame fits that way: nothing to scroll, and its value stays 0.
    if (!bar || bar->isHidden())
        return;
    // The bar's own action: it clamps to its range and reports the new value, which the
    // window passes on to the scene.
    if (page)
        bar->triggerAction(forward ? QAbstractSlider::SliderPageStepAdd : QAbstractSlider::SliderPageStepSub);
    else // the bar's own single step is one image pixel: far too slow to pan with
        bar->setValue(bar->value() + (forward ? 1 : -1) * arrowStep(bar));
}

int ViewActions::arrowStep(const QScrollBar* bar)
{
    return std::max(1, bar->pageStep() / 10);
}

bool ViewActions::eventFilter(QObject* watched, QEvent* event)
{
    // The focus widget is asked first whether it wants a key before shortcuts apply; one
    // that does not say so is asked on behalf of its parents, up to the window. A slider or
    // spin box uses the arrows for its value without saying so: claim them for it.
    if (watched == window && event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        const bool arrow = key->key() == Qt::Key_Left || key->key() == Qt::Key_Right || key->key() == Qt::Key_Up
            || key->key() == Qt::Key_Down;
        QWidget* focus = window->focusWidget();
        if (arrow && focus && focus != window
            && (qobject_cast<QAbstractSlider*>(focus) || qobject_cast<QAbstractSpinBox*>(focus)
                || qobject_cast<QAbstractSpinBox*>(focus->parentWidget()))) {
            key->accept();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
