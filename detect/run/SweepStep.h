#pragma once

#include "FrameStep.h"
#include "PictureConverter.h"
#include "SettingSweep.h"

namespace pelmora {

// A sweep's step: every setting of the sweep measured on the frame (see SettingSweep), each
// setting's snapshots told to the observer as its own run would take them. It saves nothing
// and tells the run's observer no measure.
class SweepStep : public FrameStep {
public:
    SweepStep(SettingSweep& sweep, SweepObserver* observer, PictureConverter& converter)
        : sweep(sweep), observer(observer), converter(converter) {}

    StepOutcome step(const StepFrame& frame, cv::Mat& image) override;

private:
    SettingSweep& sweep;
    SweepObserver* observer;
    PictureConverter& converter;
};

}  // namespace pelmora
