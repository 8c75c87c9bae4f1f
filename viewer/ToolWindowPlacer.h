#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Opens a channel window's two floating tool windows (line profile, line histogram) beside
// it: the first time each is shown it goes to the right of the window's frame, below the
// other tool window when that one is open, kept on the window's screen. Later showings
// leave it where the user put it. GUI thread only; a child of the channel window.
class ToolWindowPlacer : public QObject
{
    Q_OBJECT

public:
    // The tool windows are found by the titles the window gives them for board and dma.
    ToolWindowPlacer(QWidget* window, int board, int dma);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void place(QWidget* tool, QWidget* other);

    QWidget* window; // the parent
    QPointer<QWidget> profile;
    QPointer<QWidget> histogram;
};
