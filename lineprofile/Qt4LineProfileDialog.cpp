#include "lineprofile/Qt4LineProfileDialog.h"

#include "lineprofile/Qt4LineProfileDialogD.h"

#include "frame/PixelValue.h"
#include "lineprofile/Qt4LineProfileThread.h"

#include "vexo-lib-display/DisplaySceneFrame.h"
#include "vexo-lib-display/FrameBuffer.h"

#include <QLabel>
#include <QImage>

#include <cstdint>
#include <mutex>

namespace vexo {
namespace core {

namespace {

// Labels the first and last sample the detail view shows from `offset` on; returns the
// last zoomed column.
int showVisibleRange(QLabel* minLabel, QLabel* maxLabel, int offset, int visible, int zoomedWidth, int zoom)
{
    minLabel->setText(QStringLiteral("     \n%1").arg(static_cast<int>(static_cast<double>(offset) / zoom)));
    const int right = qMin(visible + offset, zoomedWidth - 1);
    maxLabel->setText(QStringLiteral("%1").arg(static_cast<int>(static_cast<double>(right) / zoom)));
    return right;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Construction and destruction

Qt4LineProfileDialog::Qt4LineProfileDialog(QWidget* parent)
    : QDialog(parent)
    , d(new D)
{
    setupUi(this);
    setFixedHeight(minimumSizeHint().height());

    positionLabel->setText(QStringLiteral("No Data"));
    positionLabel->setEnabled(false);

    zoomSpinBox->setRange(1, 64);
    zoomSpinBox->setValue(d->zoom);
    connect(zoomSpinBox, SIGNAL(valueChanged(int)), this, SLOT(zoomValueChanged(int)));
    for (QSpinBox* marker : {verticalMarkerSpinBox, horizontalMarkerSpinBox}) {
        marker->setRange(-1, -1);
        marker->setValue(-1);
        marker->setSpecialValueText(QStringLiteral("None"));
    }
    connect(verticalMarkerSpinBox, SIGNAL(valueChanged(int)), this, SLOT(verticalMarkerValueChanged(int)));
    connect(horizontalMarkerSpinBox, SIGNAL(valueChanged(int)), this, SLOT(horizontalMarkerValueChanged(int)));

    // The background choice is kept in the form but not offered.
    backgroundColorComboBox->setEnabled(false);
    backgroundColorLabel->hide();
    backgroundColorComboBox->hide();

    connect(savePngPushButton, SIGNAL(clicked()), this, SLOT(savePngButtonClicked()));
    connect(saveCsvPushButton, SIGNAL(clicked()), this, SLOT(saveCsvButtonClicked()));
    lineProfileControlsGroupBox->setEnabled(false);

    d->thread.reset(new Qt4LineProfileThread);
    setSceneFrame(boost::shared_ptr<DisplaySceneFrame>());

    // finished() is emitted on the worker thread; the receiver lives on the GUI thread, so
    // newProfileAvailable runs there, through the event queue.
    connect(d->thread.get(), SIGNAL(finished()), this, SLOT(newProfileAvailable()));
    connect(yPositionSpinBox, SIGNAL(valueChanged(int)), this, SLOT(yPositionChanged(int)));
    connect(profileDetailScrollBar, SIGNAL(valueChanged(int)), this, SLOT(scrollBarValueChanged(int)));
    connect(profileDetailWidget, SIGNAL(mousePositionChanged(int)), this, SLOT(mousePositionChanged(int)));
}

Qt4LineProfileDialog::~Qt4LineProfileDialog()
{
    waitForThread();
    // The base class deletes the children after this body; hiding them can still emit
    // (a canvas under the pointer reports leaving), and no slot may run without D.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
    d->thread.reset();
    d.reset();
}

// ---------------------------------------------------------------------------------------
// Frames and runs (GUI thread)

void Qt4LineProfileDialog::setSceneFrame(boost::shared_ptr<DisplaySceneFrame> frame)
{
    if (frame) {
        // The spin box ranges follow the buffer; a value that falls outside moves at once
        // and its slot still sees the previous frame.
        if (boost::shared_ptr<FrameBuffer> buffer = frame->frameBuffer()) {
            yPositionSpinBox->setMaximum(buffer->height() - 1);
            verticalMarkerSpinBox->setMaximum(buffer->width() - 1);
            d->bitsPerPixel = buffer->bitsPerPixel();
            horizontalMarkerSpinBox->setMaximum(
                static_cast<int>((1u << (static_cast<unsigned>(d->bitsPerPixel) % 32u)) - 1u));
        }
        requestProfile(frame);
        d->frame = std::move(frame);
    } else {
        yPositionSpinBox->setMaximum(0);
        verticalMarkerSpinBox->setMaximum(-1);
        horizontalMarkerSpinBox->setMaximum(-1);
        clearProfile();
        d->frame.reset();
    }
}

void Qt4LineProfileDialog::requestProfile(boost::shared_ptr<DisplaySceneFrame> frame)
{
    d->thread->setFrame(std::move(frame));
    d->thread->requestRun(isVisible());
}

void Qt4LineProfileDialog::yPositionChanged(int value)
{
    d->thread->setYPosition(value);
    d->thread->requestRun(isVisible());
}

void Qt4LineProfileDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    d->thread->startPendingRun(true);
}

void Qt4LineProfileDialog::waitForThread()
{
    d->thread->waitForRun();
}

int Qt4LineProfileDialog::requestedLine() const
{
    std::lock_guard<std::mutex> lock(d->thread->mutex);
    return d->thread->yPosition;
}

void Qt4LineProfileDialog::newProfileAvailable()
{
    if (!d->frame)
        return;
    yPositionLabel->setEnabled(true);
    yPositionSpinBox->setEnabled(true);
    overviewStackedWidget->setCurrentIndex(1);
    detailStackedWidget->setCurrentIndex(1);

    // A run that drew nothing leaves the picture on screen as it was.
    QImage fitted;
    QImage previous = d->thread->showNewestPicture(d->picture, d->pixmap, &fitted);

    profileOverviewWidget->setPixmap(&d->pixmap, true, fitted);
    profileDetailWidget->setPixmap(&d->pixmap, false);
    updateProfileView();
    // No pixmap shows the previous picture any more: a later run may draw into it. The
    // overview copied the scaled copy out, so that goes back at once.
    d->thread->recyclePicture(std::move(previous));
    d->thread->recycleFitted(std::move(fitted));

    // A request that came during this run was kept for now.
    d->thread->startPendingRun(isVisible());
}

void Qt4LineProfileDialog::clearProfile()
{
    waitForThread();
    // The line the clearing moved asked for the frame that goes now.
    d->thread->dropPendingRun();
    d->thread->freePicture();
    profileOverviewWidget->setPixmap(nullptr, true);
    profileDetailWidget->setPixmap(nullptr, false);
    yPositionLabel->setEnabled(false);
    yPositionSpinBox->setEnabled(false);
    overviewStackedWidget->setCurrentIndex(0);
    detailStackedWidget->setCurrentIndex(0);
    minXLabel->setText(QStringLiteral("-"));
    maxXLabel->setText(QStringLiteral("-"));
    minXLabel->setEnabled(false);
    maxXLabel->setEnabled(false);
    lineProfileControlsGroupBox->setEnabled(false);
    positionLabel->setEnabled(false);
}

// ---------------------------------------------------------------------------------------
// View

void Qt4LineProfileDialog::updateProfileView()
{
    QScrollBar* const scroll = profileDetailScrollBar;
    if (!d->frame) {
        scroll->setRange(0, 0);
        minXLabel->setText(QStringLiteral("-"));
        maxXLabel->setText(QStringLiteral("-"));
        lineProfileControlsGroupBox->setEnabled(false);
        positionLabel->setEnabled(false);
        profileOverviewWidget->update();
        profileDetailWidget->update();
        return;
    }
    boost::shared_ptr<FrameBuffer> buffer = d->frame->frameBuffer();
    if (!buffer)
        return;

    const int visible = profileOverviewWidget->rect().width();
    const int zoomedWidth = buffer->width() * d->zoom;
    buffer.reset();

    scroll->setMinimum(0);
    scroll->setPageStep(visible);
    scroll->setMaximum(qMax(zoomedWidth - visible, 0));

    const int offset = scroll->value();
    const int right = showVisibleRange(minXLabel, maxXLabel, offset, visible, zoomedWidth, d->zoom);

    profileOverviewWidget->setXOffset(offset, offset, right);
    profileDetailWidget->setXOffset(offset, offset, right);
    profileOverviewWidget->setAdditionalInfo(d->zoom, d->verticalMarker, d->horizontalMarker);
    profileDetailWidget->setAdditionalInfo(d->zoom, d->verticalMarker, d->horizontalMarker);

    lineProfileControlsGroupBox->setEnabled(true);
    positionLabel->setEnabled(true);
    profileOverviewWidget->update();
    profileDetailWidget->update();
}

void Qt4LineProfileDialog::resizeEvent(QResizeEvent*)
{
    // The layout has sized the canvases already; the next run scales the overview for it. A
    // hidden dialog's resize arrives before its showing, so the first run has it too.
    d->thread->setFitSize(profileOverviewWidget->size());
    updateProfileView();
}

void Qt4LineProfileDialog::scrollBarValueChanged(int value)
{
    if (!d->frame)
        return;
    boost::shared_ptr<FrameBuffer> buffer = d->frame->frameBuffer();
    if (!buffer)
        return;
    const int visible = profileOverviewWidget->rect().width();
    const int zoomedWidth = buffer->width() * d->zoom;
    buffer.reset();

    const int current = profileDetailScrollBar->value();
    const int right = showVisibleRange(minXLabel, maxXLabel, current, visible, zoomedWidth, d->zoom);

    profileOverviewWidget->setXOffset(value, current, right);
    profileDetailWidget->setXOffset(value, current, right);
    profileDetailWidget->update();
}

void Qt4LineProfileDialog::zoomValueChanged(int value)
{
    if (value == d->zoom)
        return;
    d->zoom = value;
    updateProfileView();
}

void Qt4LineProfileDialog::verticalMarkerValueChanged(int value)
{
    if (value == d->verticalMarker)
        return;
    d->verticalMarker = value;
    updateProfileView();
}

void Qt4LineProfileDialog::horizontalMarkerValueChanged(int value)
{
    // The spin box counts in frame buffer values, the canvases in picture levels; "None"
    // (-1) stays negative.
    const int level = PixelValue::toEightBitLevel(value, d->bitsPerPixel);
    if (level == d->horizontalMarker)
        return;
    d->horizontalMarker = level;
    updateProfileView();
}

void Qt4LineProfileDialog::mousePositionChanged(int x)
{
    const QString noData = QStringLiteral("No Data");
    boost::shared_ptr<FrameBuffer> buffer = d->frame ? d->frame->frameBuffer() : nullptr;
    if (x == -1 || !buffer || x < 0 || x >= buffer->width()) {
        positionLabel->setText(noData);
        return;
    }
    // Raw values of the last requested line, which may be ahead of the picture on screen.
    const PixelValue value(*buffer, static_cast<unsigned>(x), static_cast<unsigned>(requestedLine()));
    positionLabel->setText((value.isGray() ? QStringLiteral("Position (X): %1 -> Data (Gray): %2")
                                           : QStringLiteral("Position (X): %1 -> Data (R,G,B): %2"))
                               .arg(x)
                               .arg(QString::fromStdString(value.text(false))));
}

} // namespace core
} // namespace vexo
