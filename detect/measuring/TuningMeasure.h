#pragma once

#include <opencv2/core.hpp>

#include "WatchedRegion.h"

namespace pelmora {

// What a run would make of a frame if the reference were the one given: the count it would
// compare with its trigger, whether it would take a snapshot, and the change mask.
struct TuningMeasure {
    int changedPixels = 0;
    bool triggers = false;
    // 8-bit, three channels, the frame's size; without the status line a run draws on it.
    cv::Mat mask;
};

// frame and reference: 8-bit, three channels. A reference of another size counts as black, as
// a run compares the first frame of a new size.
TuningMeasure measureChange(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                            int minPixels, const WatchedRegion& region);

}  // namespace pelmora
