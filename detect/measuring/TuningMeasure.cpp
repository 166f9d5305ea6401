#include "TuningMeasure.h"

#include "FrameDetector.h"

namespace pelmora {

TuningMeasure measureChange(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                            int minPixels, const WatchedRegion& region) {
    // The run's own detector, so that the count, the trigger and the mask can never differ from
    // what a run decides.
    FrameDetector detector;
    detector.setRules(minPixels, region);
    detector.setReference(reference);
    TuningMeasure result;
    result.changedPixels = detector.measure(frame, threshold);
    result.triggers = detector.triggers(result.changedPixels);
    result.mask = detector.changeMask(frame, threshold);
    return result;
}

}  // namespace pelmora
