#pragma once

#include "frame/VexoDisplayQt4Export.h"

#include <QSpinBox>

// The zoom step selector: values 0..12 shown as ratios "1:64" .. "1:1" .. "64:1"
// (canvas pixels : image pixels). Its text is read-only; arrows, keys and the wheel step it.
class VEXO_DISPLAY_QT4_EXPORT Qt4ZoomSpinBox : public QSpinBox
{
public:
    explicit Qt4ZoomSpinBox(QWidget* parent = nullptr);
    ~Qt4ZoomSpinBox() override;

protected:
    QString textFromValue(int value) const override;
};
