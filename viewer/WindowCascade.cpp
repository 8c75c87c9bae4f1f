#include "WindowCascade.h"

#include <QEvent>
#include <QWidget>

WindowCascade::WindowCascade(QObject* parent)
    : QObject(parent)
{
}

void WindowCascade::add(QWidget* window)
{
    if (!first) {
        first = window;
        window->installEventFilter(this);
        return;
    }
    others.append(Placed{window, QPoint(), false});
    if (firstShown)
        schedule();
}

void WindowCascade::schedule()
{
    // The first window's frame is known only once the platform has shown it, after the
    // show event; its position before that may still be off by the frame.
    if (scheduled)
        return;
    scheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            scheduled = false;
            for (int i = 0; i < others.size(); ++i)
                if (!others[i].done)
                    place(i);
        },
        Qt::QueuedConnection);
}

void WindowCascade::place(int i)
{
    Placed& placed = others[i];
    placed.done = true;
    if (!placed.window || !first)
        return;
    placed.at = first->frameGeometry().topLeft() + QPoint(step, step) * (i + 1);
    placed.window->move(placed.at);
}

bool WindowCascade::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != first)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Show && !firstShown) {
        firstShown = true;
        schedule();
    } else if (event->type() == QEvent::Move && firstShown && !scheduled && !firstSettled) {
        // A window manager puts the first window where it wants it some time after it is
        // shown; the others follow once, unless the user has moved them already.
        firstSettled = true;
        for (int i = 0; i < others.size(); ++i)
            if (others[i].done && others[i].window && others[i].window->pos() == others[i].at)
                place(i);
    }
    return QObject::eventFilter(watched, event);
}
