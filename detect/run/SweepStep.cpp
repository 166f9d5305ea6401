#include "SweepStep.h"

#include <string>

namespace pelmora {

StepOutcome SweepStep::step(const StepFrame& frame, cv::Mat&) {
    const SweptFrame& swept = sweep.measure(converter, frame.picture);
    if (observer != nullptr) {
        for (const std::size_t setting : swept.triggered) {
            observer->settingSnapshot(
                setting, {frame.index, frame.time.snapshotMs, swept.changedPixels[setting],
                          std::string(), false, frame.streamMs, swept.againstBlack});
        }
    }
    StepOutcome outcome;
    outcome.measured = false;
    return outcome;
}

}  // namespace pelmora
