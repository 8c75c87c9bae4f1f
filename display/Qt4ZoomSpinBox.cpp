#include "display/Qt4ZoomSpinBox.h"

#include <QLineEdit>

Qt4ZoomSpinBox::Qt4ZoomSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setMinimum(0);
    setMaximum(12);
    setSingleStep(1);
    setValue(6);
    lineEdit()->setReadOnly(true);
}

Qt4ZoomSpinBox::~Qt4ZoomSpinBox() = default;

QString Qt4ZoomSpinBox::textFromValue(int value) const
{
    if (value < 0 || value > 12)
        return QString();
    // Step s scales by 2^(s-6).
    if (value < 6)
        return QStringLiteral("1:%1").arg(1 << (6 - value));
    return QStringLiteral("%1:1").arg(1 << (value - 6));
}
