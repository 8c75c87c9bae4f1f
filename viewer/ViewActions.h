#pragma once

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QSize>

#include <functional>

class QAction;
class QScrollBar;
class QSpinBox;
class QWidget;

namespace vexo {
namespace core {
class Qt4DisplaySceneVisualizer;
} // namespace core
} // namespace vexo

// The host's keyboard and menu navigation for one channel window: fit, 1:1, zoom in and
// out as actions of a "View" menu, and panning with the arrow keys (Shift: a page). It
// drives the window through its own zoom spin box and scroll bars, so that the window and
// the scene see the same changes a mouse user would make. GUI thread only; a child of
// the window.
class ViewActions : public QObject
{
    Q_OBJECT

public:
    // Works on whichever scene is attached to the window at the time.
    explicit ViewActions(vexo::core::Qt4DisplaySceneVisualizer* window);

    // The largest zoom step (0..12, 6 is 1:1) at which a frame of that size lies wholly
    // in a canvas of that size; 0 when none does.
    static int fitStep(const QSize& frame, const QSize& canvas);

public slots:
    void fit();
    void showOneToOne();
    void zoomIn();
    void zoomOut();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* addAction(const QString& text, const QList<QKeySequence>& keys, const std::function<void()>& run);
    void scroll(QScrollBar* bar, bool forward, bool page);
    // How far an arrow key pans: a tenth of the view, at least one image pixel.
    static int arrowStep(const QScrollBar* bar);
    void setZoomStep(int step);
    void fitToCanvas(bool again);

    vexo::core::Qt4DisplaySceneVisualizer* window; // the parent
    QSpinBox* zoom = nullptr;
    QScrollBar* horizontal = nullptr;
    QScrollBar* vertical = nullptr;
    QWidget* canvas = nullptr;
};
