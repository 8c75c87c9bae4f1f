#pragma once

#include <QObject>

#include <boost/shared_ptr.hpp>

#include <memory>

namespace vexo {
namespace core {
class DisplayScene;
class Qt4DisplaySceneVisualizer;
} // namespace core
} // namespace vexo

struct ViewerOptions;

// One acquisition channel as a host runs it: a simulator scene and its display window,
// with the window's requests (close, grab buttons, camera clock) handled here.
class Channel : public QObject
{
    Q_OBJECT

public:
    Channel(const ViewerOptions& options, int board, int dma);
    ~Channel() override;

    vexo::core::Qt4DisplaySceneVisualizer* window() const;
    const boost::shared_ptr<vexo::core::DisplayScene>& scene() const;

signals:
    void closed(Channel* channel);

private slots:
    void closeRequested(int board, int dma);
    void grabInfinite();
    void grabSequence();
    void grabSingle();
    void stop();
    void cameraClockChanged(int board, int dma, bool on);
    void setSourceDetectionDisabled(bool disabled);

private:
    boost::shared_ptr<vexo::core::DisplayScene> displayScene;
    std::unique_ptr<vexo::core::Qt4DisplaySceneVisualizer> displayWindow;
};
