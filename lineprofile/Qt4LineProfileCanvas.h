#pragma once

#include "frame/VexoDisplayQt4Export.h"

#include <QWidget>

#include <boost/shared_ptr.hpp>

class QImage;
class QPixmap;

namespace vexo {
namespace core {

// One view of a line profile picture (frame buffer width x 256, level 255 in the top row):
// either the overview, the whole line fitted to the widget with a band over the part the
// detail view shows, or the detail view, stretched by a whole zoom factor and scrolled.
// Both draw the vertical (sample) and horizontal (level) markers and report the sample
// under the pointer. GUI thread only.
class VEXO_DISPLAY_QT4_EXPORT Qt4LineProfileCanvas : public QWidget
{
    Q_OBJECT

public:
    explicit Qt4LineProfileCanvas(QWidget* parent = nullptr);
    ~Qt4LineProfileCanvas() override;

    // A new picture (shared, not copied), or a null pointer to empty the canvas. Does not
    // repaint by itself.
    void setPixmap(QPixmap* pixmap, bool overview);
    // The same with the overview's picture already scaled to the widget, as the worker makes
    // it off the GUI thread; used if it is of the widget's size, else scaled anew.
    void setPixmap(QPixmap* pixmap, bool overview, const QImage& fitted);
    // The detail view's scroll offset and the visible range, in zoomed pixels.
    void setXOffset(int offset, int first, int last);
    void setAdditionalInfo(int zoom, int verticalMarker, int horizontalMarker);

signals:
    // The sample under the pointer, or -1.
    void mousePositionChanged(int);

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct D;
    friend struct LineProfileCanvasInspector; // white-box access for the tests

    boost::shared_ptr<D> d;
};

} // namespace core
} // namespace vexo
