#include "display/Qt4ZoomSpinBox.h"

#include "vexo-lib-display/ZoomStep.h"

#include <QLineEdit>

using vexo::core::ZoomStep;

Qt4ZoomSpinBox::Qt4ZoomSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setMinimum(ZoomStep::minimum);
    setMaximum(ZoomStep::maximum);
    setSingleStep(1);
    setValue(ZoomStep::unity);
    lineEdit()->setReadOnly(true);
}

Qt4ZoomSpinBox::~Qt4ZoomSpinBox() = default;

QString Qt4ZoomSpinBox::textFromValue(int value) const
{
    if (!ZoomStep::isInRange(value))
        return QString();
    const ZoomStep step(value);
    // Canvas pixels : image pixels; unity reads "1:1".
    if (step.stepSize() > 1)
        return QStringLiteral("1:%1").arg(step.stepSize());
    return QStringLiteral("%1:1").arg(step.pixelSize());
}
