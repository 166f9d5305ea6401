#pragma once

#include "FrameDetector.h"
#include "FrameStep.h"
#include "PictureConverter.h"
#include "RunRequest.h"

namespace pelmora {

// The classic detector's step: a frame is saved when enough pixels differ from the last
// snapshot (see FrameDetector), which then becomes the reference. Where nothing is shown, a
// frame is compared row by row in its own pixel format, and converted whole only when saved.
class ClassicStep : public FrameStep {
public:
    ClassicStep(FrameDetector& detector, PictureConverter& converter, const RunRequest& request)
        : detector(detector), converter(converter), request(request) {}

    StepOutcome step(const StepFrame& frame, cv::Mat& image) override;

private:
    bool allowsRows(const Picture& picture) const;

    FrameDetector& detector;
    PictureConverter& converter;
    const RunRequest& request;
    // The picture of this run's last snapshot, which the reference image was converted from.
    Frame referencePicture;
};

}  // namespace pelmora
