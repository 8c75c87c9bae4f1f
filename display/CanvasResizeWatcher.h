#pragma once

#include <QObject>

#include <functional>

class QWidget;

// The window measures its canvas in its own resize event, but the layout sizes the canvas
// later than that: on the first show, and whenever something other than a window resize
// moves it. This filter on the canvas widget asks the window to measure again (the same
// posted resize the scroll bars use) when the canvas has a size the window has not seen.
// GUI thread.
class CanvasResizeWatcher : public QObject
{
public:
    // `measured` tells whether the window already works with the canvas's current size.
    CanvasResizeWatcher(QWidget* window, QWidget* canvas, std::function<bool()> measured);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    QWidget* window; // borrowed: the watcher is the window's child
    QWidget* canvas; // borrowed
    std::function<bool()> measured;
};
