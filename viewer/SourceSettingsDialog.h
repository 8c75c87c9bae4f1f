#pragma once

#include <QDialog>

#include <boost/shared_ptr.hpp>

#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSpinBox;

namespace vexo {
namespace core {
class CameraSource;
class DisplayScene;
class Qt4DisplaySceneVisualizer;
class SimulatorSource;
struct FrameFormat;
} // namespace core
} // namespace vexo

// The settings of one channel's source: the simulator's format, rate and pattern, or a
// camera's exposure, gain, rate, region and pixel format as the camera reports them.
//
// Settings change only while the scene is stopped, as a format change does: the fields and
// Apply are disabled while it grabs. A new format goes through the scene, which makes its
// ring anew and tells the window. What the source or the memory refuses is listed in the
// dialog with the reason, and the fields show the source's actual values again.
//
// GUI thread only.
class SourceSettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // The scene's source decides which fields there are; the window (borrowed) reports
    // grabbing starting and stopping.
    SourceSettingsDialog(boost::shared_ptr<vexo::core::DisplayScene> scene,
                         vexo::core::Qt4DisplaySceneVisualizer* window, QWidget* parent = nullptr);
    ~SourceSettingsDialog() override;

    // What the last apply could not set, one line per setting; empty when all was set.
    QString problem() const;

public slots:
    // Fills the fields with the source's current values.
    void refresh();
    // Sets what differs from the source's current values.
    void apply();

private slots:
    void updateAvailability();

private:
    void buildSimulatorFields(QFormLayout* form);
    void buildCameraFields(QFormLayout* form);
    void refreshSimulator();
    void refreshCamera();
    void applySimulator(QStringList* problems);
    void applyCamera(QStringList* problems);
    // The scene refused the ring for `format`: says why, puts the source back to `before`
    // through undo (when the source had taken the format itself) and makes the ring again
    // when it had gone.
    void ringRefused(const vexo::core::FrameFormat& format, const vexo::core::FrameFormat& before,
                     QStringList* problems, const std::function<void()>& undo);

    boost::shared_ptr<vexo::core::DisplayScene> scene;
    vexo::core::SimulatorSource* simulator = nullptr; // the scene's source, when it is one
    vexo::core::CameraSource* camera = nullptr; // the scene's source, when it is one

    QWidget* fields = nullptr;
    QFormLayout* form = nullptr;
    QSpinBox* widthBox = nullptr;
    QSpinBox* heightBox = nullptr;
    // Simulator
    QSpinBox* bitsBox = nullptr;
    QCheckBox* colourBox = nullptr;
    QDoubleSpinBox* simulatorRateBox = nullptr;
    QComboBox* patternBox = nullptr;
    // Camera
    QSpinBox* offsetXBox = nullptr;
    QSpinBox* offsetYBox = nullptr;
    QComboBox* pixelFormatBox = nullptr;
    QDoubleSpinBox* exposureBox = nullptr;
    QDoubleSpinBox* gainBox = nullptr;
    QDoubleSpinBox* cameraRateBox = nullptr;

    QLabel* problemLabel = nullptr;
    QPushButton* applyButton = nullptr;
};
