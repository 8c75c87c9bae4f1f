#pragma once

#include "ui_LineHistogramDialog.h"

#include <QDialog>

#include <boost/shared_ptr.hpp>

class QResizeEvent;
class QShowEvent;

namespace vexo {
namespace core {

class DisplaySceneFrame;
struct Qt4LineHistogramThread;

// The line histogram tool window: a logarithmic 256-bin histogram of one line of the frame
// on screen, computed by a worker thread. While the window is hidden, requests are only
// remembered and run when it is shown again. GUI thread, except waitForThread().
class Qt4LineHistogramDialog : public QDialog, public Ui::LineHistogramDialog
{
    Q_OBJECT

public:
    explicit Qt4LineHistogramDialog(QWidget* parent);
    ~Qt4LineHistogramDialog() override;

    // A new frame to show, or an empty one to clear the tool.
    void setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame);

    // Blocks until the worker is not running. Any thread; the scene's notification thread
    // calls it before the frame buffers go away.
    void waitForThread();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    // The worker's finished(), delivered on the GUI thread.
    void newHistogramAvailable();
    void yPositionChanged(int value);

private:
    void requestHistogram(boost::shared_ptr<DisplaySceneFrame> frame);
    void clearHistogram();

    struct D;
    friend struct VisualizerInspector; // white-box access for the test suite
    friend struct LineHistogramInspector; // likewise

    boost::shared_ptr<D> d;
};

} // namespace core
} // namespace vexo
