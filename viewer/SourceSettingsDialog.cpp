#include "SourceSettingsDialog.h"

#include "display/Qt4DisplaySceneVisualizer.h"

#include "vexo-lib-display/DisplayScene.h"
#include "vexo-lib-display/FrameBufferGroup.h"
#include "vexo-lib-display/SimulatorSource.h"

#ifdef VEXO_HAVE_CAMERA
#include "vexo-camera/CameraSource.h"
#endif

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

using vexo::core::DisplayScene;
using vexo::core::FrameFormat;
using vexo::core::Qt4DisplaySceneVisualizer;
using vexo::core::SimulatorSource;

namespace {

QSpinBox* intBox(const char* name, int minimum, int maximum)
{
    auto* box = new QSpinBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    return box;
}

QDoubleSpinBox* doubleBox(const char* name, double minimum, double maximum, int decimals)
{
    auto* box = new QDoubleSpinBox;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(minimum, maximum);
    box->setDecimals(decimals);
    return box;
}

QString formatText(const FrameFormat& f)
{
    return QStringLiteral("%1 x %2, %3 bits %4")
        .arg(f.width)
        .arg(f.height)
        .arg(f.bitsPerPixel)
        .arg(f.gray ? QStringLiteral("gray") : QStringLiteral("colour"));
}

#ifdef VEXO_HAVE_CAMERA
using vexo::core::CameraSource;

// The box holds another value than the camera's, beyond the box's own rounding.
bool differs(const QDoubleSpinBox* box, double value)
{
    return std::abs(box->value() - value) > 0.5 * std::pow(10.0, -box->decimals());
}

// A feature the camera lacks is hidden; the row's label tells the camera's bounds. The
// boxes themselves are not clamped to them: bounds depend on each other (the highest
// rate on the exposure, for one), so the camera judges a value.
template <typename Box>
void showFeature(QFormLayout* form, Box* box, const QString& name, const CameraSource::Feature& f,
                 const QString& unit = QString())
{
    QWidget* label = form->labelForField(box);
    box->setVisible(f.available);
    if (label)
        label->setVisible(f.available);
    if (!f.available)
        return;
    box->setValue(static_cast<decltype(box->value())>(f.value));
    if (auto* text = qobject_cast<QLabel*>(label))
        text->setText(QStringLiteral("%1 (%2 .. %3%4)").arg(name).arg(f.minimum).arg(f.maximum).arg(unit));
}

int valueOf(const QSpinBox* box, const CameraSource::Feature& f)
{
    return f.available ? box->value() : static_cast<int>(f.value);
}
#endif

} // namespace

SourceSettingsDialog::SourceSettingsDialog(boost::shared_ptr<DisplayScene> displayScene,
                                           Qt4DisplaySceneVisualizer* window, QWidget* parent)
    : QDialog(parent)
    , scene(std::move(displayScene))
{
    simulator = dynamic_cast<SimulatorSource*>(&scene->source());
#ifdef VEXO_HAVE_CAMERA
    camera = dynamic_cast<CameraSource*>(&scene->source());
#endif

    fields = new QWidget;
    form = new QFormLayout(fields);
    if (simulator)
        buildSimulatorFields(form);
    else if (camera)
        buildCameraFields(form);
    else
        form->addRow(new QLabel(tr("This source has no settings.")));

    problemLabel = new QLabel;
    problemLabel->setObjectName(QStringLiteral("problemLabel"));
    problemLabel->setWordWrap(true);
    problemLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problemLabel->setStyleSheet(QStringLiteral("color: #b00000"));
    problemLabel->hide();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Apply | QDialogButtonBox::Close);
    applyButton = buttons->button(QDialogButtonBox::Apply);
    applyButton->setObjectName(QStringLiteral("applyButton"));
    applyButton->setEnabled(simulator || camera);
    connect(applyButton, &QPushButton::clicked, this, &SourceSettingsDialog::apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fields);
    layout->addWidget(problemLabel);
    layout->addWidget(buttons);

    // The window reports both ends of a grab, also one that ends by itself.
    if (window)
        connect(window, &Qt4DisplaySceneVisualizer::grabButtonStatusUpdated, this,
                &SourceSettingsDialog::updateAvailability);
    refresh();
}

SourceSettingsDialog::~SourceSettingsDialog() = default;

QString SourceSettingsDialog::problem() const
{
    return problemLabel->text();
}

void SourceSettingsDialog::buildSimulatorFields(QFormLayout* layout)
{
    widthBox = intBox("width", 1, 1000000);
    heightBox = intBox("height", 1, 1000000);
    bitsBox = intBox("bits", 1, 16);
    colourBox = new QCheckBox(tr("Colour (three values a pixel)"));
    colourBox->setObjectName(QStringLiteral("colour"));
    simulatorRateBox = doubleBox("framesPerSecond", 0, 1e6, 2);
    simulatorRateBox->setSpecialValueText(tr("As fast as possible"));
    patternBox = new QComboBox;
    patternBox->setObjectName(QStringLiteral("pattern"));
    patternBox->addItem(tr("Moving gradient"), int(SimulatorSource::Pattern::MovingGradient));
    patternBox->addItem(tr("Test chart"), int(SimulatorSource::Pattern::TestChart));
    layout->addRow(tr("Width"), widthBox);
    layout->addRow(tr("Height"), heightBox);
    layout->addRow(tr("Bits per value"), bitsBox);
    layout->addRow(QString(), colourBox);
    layout->addRow(tr("Frames per second"), simulatorRateBox);
    layout->addRow(tr("Pattern"), patternBox);
}

void SourceSettingsDialog::buildCameraFields(QFormLayout* layout)
{
    exposureBox = doubleBox("exposureTime", 0, 1e12, 1);
    gainBox = doubleBox("gain", -1e6, 1e6, 2);
    cameraRateBox = doubleBox("frameRate", 0, 1e7, 3);
    widthBox = intBox("width", 0, 1 << 24);
    heightBox = intBox("height", 0, 1 << 24);
    offsetXBox = intBox("offsetX", 0, 1 << 24);
    offsetYBox = intBox("offsetY", 0, 1 << 24);
    pixelFormatBox = new QComboBox;
    pixelFormatBox->setObjectName(QStringLiteral("pixelFormat"));
    layout->addRow(tr("Exposure time"), exposureBox);
    layout->addRow(tr("Gain"), gainBox);
    layout->addRow(tr("Frame rate"), cameraRateBox);
    layout->addRow(tr("Width"), widthBox);
    layout->addRow(tr("Height"), heightBox);
    layout->addRow(tr("Offset X"), offsetXBox);
    layout->addRow(tr("Offset Y"), offsetYBox);
    layout->addRow(tr("Pixel format"), pixelFormatBox);
}

void SourceSettingsDialog::refresh()
{
    if (simulator)
        refreshSimulator();
    else if (camera)
        refreshCamera();
    updateAvailability();
}

void SourceSettingsDialog::refreshSimulator()
{
    const SimulatorSource::Settings s = simulator->settings();
    widthBox->setValue(s.format.width);
    heightBox->setValue(s.format.height);
    bitsBox->setValue(s.format.bitsPerPixel);
    colourBox->setChecked(!s.format.gray);
    simulatorRateBox->setValue(s.framesPerSecond);
    patternBox->setCurrentIndex(patternBox->findData(int(s.pattern)));
}

void SourceSettingsDialog::refreshCamera()
{
#ifdef VEXO_HAVE_CAMERA
    const CameraSource::Features f = camera->features();
    showFeature(form, exposureBox, tr("Exposure time"), f.exposureTime, QStringLiteral(" µs"));
    showFeature(form, gainBox, tr("Gain"), f.gain);
    showFeature(form, cameraRateBox, tr("Frame rate"), f.frameRate, QStringLiteral(" Hz"));
    showFeature(form, widthBox, tr("Width"), f.width);
    showFeature(form, heightBox, tr("Height"), f.height);
    showFeature(form, offsetXBox, tr("Offset X"), f.offsetX);
    showFeature(form, offsetYBox, tr("Offset Y"), f.offsetY);
    pixelFormatBox->clear();
    for (const std::string& name : f.pixelFormats)
        pixelFormatBox->addItem(QString::fromStdString(name));
    // The camera's own format stays selectable even when it cannot be shown.
    const QString current = QString::fromStdString(f.pixelFormat);
    if (!current.isEmpty() && pixelFormatBox->findText(current) < 0)
        pixelFormatBox->insertItem(0, current);
    pixelFormatBox->setCurrentIndex(pixelFormatBox->findText(current));
    pixelFormatBox->setEnabled(pixelFormatBox->count() > 0);
#endif
}

void SourceSettingsDialog::updateAvailability()
{
    const bool idle = !scene->isGrabbing();
    fields->setEnabled(idle);
    applyButton->setEnabled(idle && (simulator || camera));
    applyButton->setToolTip(idle ? QString() : tr("Stop the acquisition to change the settings"));
}

void SourceSettingsDialog::apply()
{
    QStringList problems;
    if (scene->isGrabbing())
        problems << tr("The acquisition runs: stop it to change the settings.");
    else if (simulator)
        applySimulator(&problems);
    else if (camera)
        applyCamera(&problems);
    problemLabel->setText(problems.join(QLatin1Char('\n')));
    problemLabel->setVisible(!problems.isEmpty());
    // Refused values go back to what the source has.
    refresh();
}

void SourceSettingsDialog::applySimulator(QStringList* problems)
{
    const FrameFormat before = simulator->format();
    simulator->setFramesPerSecond(simulatorRateBox->value());
    simulator->setPattern(SimulatorSource::Pattern(patternBox->currentData().toInt()));
    FrameFormat format;
    format.width = widthBox->value();
    format.height = heightBox->value();
    format.bitsPerPixel = bitsBox->value();
    format.gray = !colourBox->isChecked();
    if (format == before)
        return;
    if (!scene->setFormat(format))
        ringRefused(format, before, problems, {});
}

void SourceSettingsDialog::applyCamera(QStringList* problems)
{
#ifdef VEXO_HAVE_CAMERA
    const CameraSource::Features now = camera->features();
    std::string reason;

    // The region and pixel format first: they bound the rate.
    const std::string pixelFormat = pixelFormatBox->currentText().toStdString();
    const int x = valueOf(offsetXBox, now.offsetX);
    const int y = valueOf(offsetYBox, now.offsetY);
    const int width = valueOf(widthBox, now.width);
    const int height = valueOf(heightBox, now.height);
    const int oldX = static_cast<int>(now.offsetX.value);
    const int oldY = static_cast<int>(now.offsetY.value);
    const int oldWidth = static_cast<int>(now.width.value);
    const int oldHeight = static_cast<int>(now.height.value);
    if (pixelFormat != now.pixelFormat || x != oldX || y != oldY || width != oldWidth || height != oldHeight) {
        const FrameFormat before = camera->format();
        if (!camera->setImageFormat(pixelFormat, x, y, width, height, &reason)) {
            problems->append(tr("Image format: %1").arg(QString::fromStdString(reason)));
        } else if (camera->format() != before && !scene->setFormat(camera->format())) {
            ringRefused(camera->format(), before, problems, [this, &now, oldX, oldY, oldWidth, oldHeight] {
                camera->setImageFormat(now.pixelFormat, oldX, oldY, oldWidth, oldHeight, nullptr);
            });
        }
    }

    CameraSource* const source = camera;
    const auto set = [source, problems, &reason](QDoubleSpinBox* box, const CameraSource::Feature& f,
                                                 const QString& name,
                                                 bool (CameraSource::*setter)(double, std::string*)) {
        if (f.available && differs(box, f.value) && !(source->*setter)(box->value(), &reason))
            problems->append(QStringLiteral("%1: %2").arg(name, QString::fromStdString(reason)));
    };
    set(exposureBox, now.exposureTime, tr("Exposure time"), &CameraSource::setExposureTime);
    set(gainBox, now.gain, tr("Gain"), &CameraSource::setGain);
    set(cameraRateBox, now.frameRate, tr("Frame rate"), &CameraSource::setFrameRate);
#else
    (void)problems;
#endif
}

void SourceSettingsDialog::ringRefused(const FrameFormat& format, const FrameFormat& before, QStringList* problems,
                                       const std::function<void()>& undo)
{
    QString reason = QString::fromStdString(scene->ringError());
    if (reason.isEmpty())
        reason = tr("the source does not deliver it");
    problems->append(tr("Format %1: %2").arg(formatText(format), reason));
    if (undo)
        undo();
    // A ring that failed to allocate has gone with the old one: it is made again for the
    // format the source has again.
    if (scene->frameBufferGroup()->capacity() == 0 || scene->format() != before)
        scene->setFormat(before);
}
