#pragma once

#include <QTimer>
#include <QToolBar>

#include <boost/weak_ptr.hpp>

class QLabel;
class QSpinBox;
class QToolButton;

namespace vexo {
namespace core {
class DisplayScene;
} // namespace core
} // namespace vexo

// A channel window's display range: an "Auto" button, the Min and Max values of a manual
// range (0 .. 2^bits - 1 of the scene's format) and the range in use, which follows the
// scene a few times a second (Auto changes it with the frames). Editing Min or Max sets
// that range and ends Auto; turning Auto off keeps the range it last used. GUI thread
// only; added to the window as a tool bar, its child.
class LevelsBar : public QToolBar
{
    Q_OBJECT

public:
    LevelsBar(const boost::weak_ptr<vexo::core::DisplayScene>& scene, QWidget* parent);

public slots:
    // Reads the scene's levels, bit depth and range in use into the widgets.
    void refresh();

private slots:
    void autoToggled(bool on);
    void rangeEdited();

private:
    boost::weak_ptr<vexo::core::DisplayScene> scene;
    // Children of the bar.
    QToolButton* autoButton;
    QSpinBox* minimum;
    QSpinBox* maximum;
    QLabel* inUse;
    QTimer poll;
};
