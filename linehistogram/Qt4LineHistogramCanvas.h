#pragma once

#include "frame/VexoDisplayQt4Export.h"

#include <QWidget>

#include <boost/shared_ptr.hpp>

class QPixmap;

namespace vexo {
namespace core {

// Shows the line histogram picture stretched to the widget, nearest pixel. It scales only
// when a picture arrives or the widget is resized, and paints the whole widget only once
// after a new picture. GUI thread.
class VEXO_DISPLAY_QT4_EXPORT Qt4LineHistogramCanvas : public QWidget
{
public:
    explicit Qt4LineHistogramCanvas(QWidget* parent);
    ~Qt4LineHistogramCanvas() override;

    // Shares the picture and scales it into a kept store; null clears. Schedules no repaint: the caller updates.
    void setPixmap(QPixmap* pixmap);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct D;
    friend struct LineHistogramInspector; // white-box access for the test suite

    boost::shared_ptr<D> d;
};

} // namespace core
} // namespace vexo
