#pragma once

#include "frame/VexoDisplayQt4Export.h"

#include <QWidget>

#include <boost/shared_ptr.hpp>

namespace vexo {
namespace core {
class DisplaySceneFrame;
class Qt4DisplaySceneVisualizer;
struct VisualizerInspector;
} // namespace core
} // namespace vexo

// The canvas of the display window: shows the pixmap made from the last scene frame,
// unscaled at its top-left corner, and forwards mouse moves to its window. GUI thread only.
class VEXO_DISPLAY_QT4_EXPORT Qt4RenderWidget : public QWidget
{
public:
    explicit Qt4RenderWidget(QWidget* parent = nullptr);
    ~Qt4RenderWidget() override;

    void setVisualizer(vexo::core::Qt4DisplaySceneVisualizer* visualizer);
    // A frame becomes the pixmap (the frame is kept until the next one); an empty pointer
    // clears the picture.
    void setSceneFrame(boost::shared_ptr<vexo::core::DisplaySceneFrame> frame);

protected:
    void mouseMoveEvent(QMouseEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    struct D;
    friend struct vexo::core::VisualizerInspector; // white-box access for the test suite

    boost::shared_ptr<D> d;
};
