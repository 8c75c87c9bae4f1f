#pragma once

#include "vexo-lib-display/FrameFormat.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <boost/weak_ptr.hpp>

namespace vexo {
namespace core {
class DisplayScene;
class FrameSource;
class Qt4DisplaySceneVisualizer;
} // namespace core
} // namespace vexo

// Keeps a channel window's title saying what it shows: the fixed prefix, then the source,
// its pixel format and the frame size, e.g.
// "Display - Device 0, DMA 0 - simulator Mono12 2048 x 2048". GUI thread only; a child of
// the window.
class ChannelTitle : public QObject
{
    Q_OBJECT

public:
    ChannelTitle(vexo::core::Qt4DisplaySceneVisualizer* window, const boost::weak_ptr<vexo::core::DisplayScene>& scene,
                 const QString& prefix);

    // "simulator Mono12 2048 x 2048", "<camera id> BayerRG8 1280 x 1024".
    static QString describe(const vexo::core::FrameSource& source, const vexo::core::FrameFormat& format);

public slots:
    void update();

private:
    vexo::core::Qt4DisplaySceneVisualizer* window; // the parent
    boost::weak_ptr<vexo::core::DisplayScene> scene;
    QString prefix;
    // A format can change without the window saying so (a settings dialog changes it while
    // nothing is grabbed), so the format is looked at now and then as well.
    QTimer poll;
};
