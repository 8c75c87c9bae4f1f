#include "lineprofile/Qt4LineProfileDialog.h"

#include "lineprofile/Qt4LineProfileDialogD.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"

namespace vexo {
namespace core {

Qt4LineProfileDialog::Qt4LineProfileDialog(QWidget* parent)
    : QDialog(parent)
    , d(new D)
{
    setupUi(this);
}

Qt4LineProfileDialog::~Qt4LineProfileDialog()
{
    waitForThread();
}

void Qt4LineProfileDialog::setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    d->frame = std::move(frame);
}

void Qt4LineProfileDialog::waitForThread()
{
    d->thread->wait();
}

} // namespace core
} // namespace vexo
