#pragma once

#include "ui_LineProfileDialog.h"

#include <QDialog>

#include <boost/shared_ptr.hpp>

namespace vexo {
namespace core {

class DisplaySceneFrame;
struct Qt4LineProfileThread;

// The line profile tool window. GUI thread, except waitForThread().
class Qt4LineProfileDialog : public QDialog, public Ui::LineProfileDialog
{
    Q_OBJECT

public:
    explicit Qt4LineProfileDialog(QWidget* parent);
    ~Qt4LineProfileDialog() override;

    // A new frame to show, or an empty one to clear the tool.
    void setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame);

    // Blocks until the worker is not running. Any thread; the scene's notification thread
    // calls it before the frame buffers go away.
    void waitForThread();

private:
    struct D;
    friend struct VisualizerInspector; // white-box access for the test suite

    boost::shared_ptr<D> d;
};

} // namespace core
} // namespace vexo
