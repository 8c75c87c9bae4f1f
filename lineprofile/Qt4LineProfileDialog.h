#pragma once

#include "ui_LineProfileDialog.h"

#include <QDialog>

#include <boost/shared_ptr.hpp>

namespace vexo {
namespace core {

class DisplaySceneFrame;
struct Qt4LineProfileThread;

// The line profile tool window: the values of one line of the frame buffer behind the
// current scene frame, drawn off the GUI thread by a worker, shown as an overview and a
// zoomable detail view, with markers, a value readout and PNG/CSV export.
// GUI thread, except waitForThread().
class Qt4LineProfileDialog : public QDialog, public Ui::LineProfileDialog
{
    Q_OBJECT

public:
    explicit Qt4LineProfileDialog(QWidget* parent);
    ~Qt4LineProfileDialog() override;

    // A new frame to show, or an empty one to clear the tool. GUI thread.
    void setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame);

    // Blocks until the worker is not running. Any thread; the scene's notification thread
    // calls it before the frame buffers go away.
    void waitForThread();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private slots:
    void newProfileAvailable();
    void yPositionChanged(int value);
    void scrollBarValueChanged(int value);
    void zoomValueChanged(int value);
    void verticalMarkerValueChanged(int value);
    void horizontalMarkerValueChanged(int value);
    void savePngButtonClicked();
    void saveCsvButtonClicked();
    void mousePositionChanged(int x);

private:
    void requestProfile(boost::shared_ptr<DisplaySceneFrame> frame);
    void clearProfile();
    void updateProfileView();
    // The line of the last request; what the readout and the CSV export read.
    int requestedLine() const;

    struct D;
    friend struct VisualizerInspector; // white-box access for the test suite
    friend struct LineProfileInspector; // and for the tool's own tests

    boost::shared_ptr<D> d;
};

} // namespace core
} // namespace vexo
