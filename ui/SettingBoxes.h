#pragma once

#include <QDoubleSpinBox>

#include "OptionTable.h"

// Spin boxes of the settings that more than one panel offers, so that each has one range and
// one default.

// Seconds to the millisecond, as pelmora-scan takes them, without the zeros a fixed number of
// decimals would trail: "2 s", "0.5 s", "1.025 s".
class SecondsBox : public QDoubleSpinBox {
public:
    using QDoubleSpinBox::QDoubleSpinBox;

    QString textFromValue(double value) const override;
};

// A spin box over an option's range in seconds, at the window's default.
void takeSeconds(QDoubleSpinBox* box, const pelmora::OptionEntry& entry);
// What a box of seconds holds, to the nearest millisecond.
long long boxMs(const QDoubleSpinBox& box);

// The objects detector's least object, a share of the picture in percent, at its default.
QDoubleSpinBox* leastObjectBox(QWidget* parent);
// Its least duration in seconds, at its default.
SecondsBox* leastDurationBox(QWidget* parent);
