#include "LevelsBar.h"

#include "vexo-lib-display/DisplayScene.h"

#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>

using vexo::core::DisplayLevels;
using vexo::core::DisplayScene;

namespace {

// Often enough to follow Auto as the frames change, seldom enough to cost nothing.
constexpr int refreshMilliseconds = 250;

} // namespace

LevelsBar::LevelsBar(const boost::weak_ptr<DisplayScene>& scene, QWidget* parent)
    : QToolBar(QStringLiteral("Levels"), parent)
    , scene(scene)
    , autoButton(new QToolButton(this))
    , minimum(new QSpinBox(this))
    , maximum(new QSpinBox(this))
    , inUse(new QLabel(this))
{
    setObjectName(QStringLiteral("levelsBar"));
    autoButton->setObjectName(QStringLiteral("levelsAuto"));
    autoButton->setText(QStringLiteral("Auto"));
    autoButton->setCheckable(true);
    autoButton->setToolTip(QStringLiteral("Display range from each frame's 0.1% and 99.9% percentiles"));
    minimum->setObjectName(QStringLiteral("levelsMinimum"));
    maximum->setObjectName(QStringLiteral("levelsMaximum"));
    minimum->setToolTip(QStringLiteral("Shown black and below"));
    maximum->setToolTip(QStringLiteral("Shown white and above"));
    inUse->setObjectName(QStringLiteral("levelsInUse"));
    addWidget(autoButton);
    addWidget(new QLabel(QStringLiteral(" Min "), this));
    addWidget(minimum);
    addWidget(new QLabel(QStringLiteral(" Max "), this));
    addWidget(maximum);
    addWidget(inUse);

    connect(autoButton, &QToolButton::toggled, this, &LevelsBar::autoToggled);
    connect(minimum, QOverload<int>::of(&QSpinBox::valueChanged), this, &LevelsBar::rangeEdited);
    connect(maximum, QOverload<int>::of(&QSpinBox::valueChanged), this, &LevelsBar::rangeEdited);
    connect(&poll, &QTimer::timeout, this, &LevelsBar::refresh);
    poll.start(refreshMilliseconds);
    refresh();
}

void LevelsBar::refresh()
{
    const boost::shared_ptr<DisplayScene> shown = scene.lock();
    if (!shown)
        return;
    const DisplayLevels levels = shown->displayLevels();
    const DisplayLevels::Range range = shown->levelsInUse();
    const int top = DisplayLevels::defaultRange(shown->format().bitsPerPixel).maximum;
    // Set from the scene, not edited: no levels are set back.
    const QSignalBlocker blockAuto(autoButton);
    const QSignalBlocker blockMinimum(minimum);
    const QSignalBlocker blockMaximum(maximum);
    autoButton->setChecked(levels.mode == DisplayLevels::Mode::Auto);
    minimum->setRange(0, top);
    maximum->setRange(0, top);
    // Outside Manual the values follow what is shown, so that an edit starts from there.
    const DisplayLevels::Range edited = levels.mode == DisplayLevels::Mode::Manual ? levels.manualRange() : range;
    minimum->setValue(edited.minimum);
    maximum->setValue(edited.maximum);
    inUse->setText(QStringLiteral(" in use %1 .. %2 ").arg(range.minimum).arg(range.maximum));
}

void LevelsBar::autoToggled(bool on)
{
    const boost::shared_ptr<DisplayScene> shown = scene.lock();
    if (!shown)
        return;
    const double gamma = shown->displayLevels().gamma;
    DisplayLevels levels = DisplayLevels::manual(minimum->value(), maximum->value(), gamma);
    if (on) {
        levels = DisplayLevels::automatic();
        levels.gamma = gamma;
    }
    shown->setDisplayLevels(levels);
    refresh();
}

void LevelsBar::rangeEdited()
{
    const boost::shared_ptr<DisplayScene> shown = scene.lock();
    if (!shown)
        return;
    shown->setDisplayLevels(DisplayLevels::manual(minimum->value(), maximum->value(), shown->displayLevels().gamma));
    refresh();
}
