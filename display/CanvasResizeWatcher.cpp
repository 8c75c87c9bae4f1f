#include "display/CanvasResizeWatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QResizeEvent>
#include <QWidget>

#include <utility>

CanvasResizeWatcher::CanvasResizeWatcher(QWidget* window, QWidget* canvas, std::function<bool()> measured)
    : QObject(window)
    , window(window)
    , canvas(canvas)
    , measured(std::move(measured))
{
    canvas->installEventFilter(this);
}

bool CanvasResizeWatcher::eventFilter(QObject* watched, QEvent* e)
{
    // Posted, not sent: the layout is still placing the canvas's neighbours (the scroll
    // bars) when the canvas hears of its new size.
    if (watched == canvas && (e->type() == QEvent::Resize || e->type() == QEvent::Show) && !measured())
        QCoreApplication::postEvent(window, new QResizeEvent(window->size(), window->size()), Qt::NormalEventPriority);
    return false;
}
