#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "FrameClock.h"
#include "VideoSource.h"

namespace pelmora {

// One frame as the frame loop hands it to a detection step.
struct StepFrame {
    long long index = 0;
    const Picture& picture;
    FrameTime time;
    long long streamMs = 0;
};

// What a detection step made of a frame, for the frame loop to count, name, write and tell.
struct StepOutcome {
    bool measured = true;  // a measure of the frame to tell the run's observer
    int changedPixels = 0;
    bool againstBlack = false;
    // image holds the frame to save, whole, its status line drawn.
    bool snapshot = false;
    std::vector<cv::Rect> boxes;  // the objects seen, in the image's pixels
    std::string line;             // to say, with its '\n': a change of light, say
};

// The per-frame work of a detector, as the frame loop calls it: one frame at a time, in frame
// order, on the run's thread. The loop chooses nothing by detector; it only names, writes and
// tells what the step decides.
class FrameStep {
public:
    virtual ~FrameStep() = default;
    // image is a buffer of the loop's pool to convert the picture into; the step leaves the
    // frame to save in it.
    virtual StepOutcome step(const StepFrame& frame, cv::Mat& image) = 0;
};

}  // namespace pelmora
