#include "ToolWindowPlacer.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {
QWidget* topLevel(const QString& title)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowTitle() == title)
            return w;
    return nullptr;
}
} // namespace

ToolWindowPlacer::ToolWindowPlacer(QWidget* window, int board, int dma)
    : QObject(window)
    , window(window)
    , profile(topLevel(QStringLiteral("Line Profile - Device %1, DMA %2").arg(board).arg(dma)))
    , histogram(topLevel(QStringLiteral("Line Histogram - Device %1, DMA %2").arg(board).arg(dma)))
{
    // The tool windows are top-level docks parented to the window's parent, not to the
    // window, so only their own show events tell when they open.
    if (profile)
        profile->installEventFilter(this);
    if (histogram)
        histogram->installEventFilter(this);
}

bool ToolWindowPlacer::eventFilter(QObject* watched, QEvent* event)
{
    // A show event comes before the native window is mapped: moving now avoids a jump.
    if (event->type() == QEvent::Show && !event->spontaneous()) {
        if (watched == profile) {
            profile->removeEventFilter(this);
            place(profile, histogram);
        } else if (watched == histogram) {
            histogram->removeEventFilter(this);
            place(histogram, profile);
        }
    }
    return QObject::eventFilter(watched, event);
}

void ToolWindowPlacer::place(QWidget* tool, QWidget* other)
{
    const QRect anchor = window->frameGeometry();
    const QSize size = tool->frameGeometry().size();
    QPoint at(anchor.right() + 1, anchor.top());
    if (other && other->isVisible())
        at.setY(other->frameGeometry().bottom() + 1);
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        at.setX(qMax(available.left(), qMin(at.x(), available.right() - size.width() + 1)));
        at.setY(qMax(available.top(), qMin(at.y(), available.bottom() - size.height() + 1)));
    }
    tool->move(at);
}
