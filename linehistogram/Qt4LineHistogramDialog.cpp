#include "linehistogram/Qt4LineHistogramDialog.h"

#include "linehistogram/Qt4LineHistogramDialogD.h"
#include "linehistogram/Qt4LineHistogramThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"

namespace vexo {
namespace core {

Qt4LineHistogramDialog::Qt4LineHistogramDialog(QWidget* parent)
    : QDialog(parent)
    , d(new D)
{
    setupUi(this);
}

Qt4LineHistogramDialog::~Qt4LineHistogramDialog()
{
    waitForThread();
}

void Qt4LineHistogramDialog::setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    d->frame = std::move(frame);
}

void Qt4LineHistogramDialog::waitForThread()
{
    d->thread->wait();
}

} // namespace core
} // namespace vexo
