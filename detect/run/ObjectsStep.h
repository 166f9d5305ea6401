#pragma once

#include <memory>
#include <string>

#include "FrameStep.h"
#include "GreyPicture.h"
#include "ObjectDetector.h"
#include "PictureConverter.h"
#include "RunRequest.h"

namespace pelmora {

// The objects detector's step (see ObjectDetector): each frame made small and grey, the
// detector's snapshot rule, and only the frames it saves converted whole. What it says of the
// scene (a change of light, a shake) is a line of the run, not an event.
class ObjectsStep : public FrameStep {
public:
    ObjectsStep(PictureConverter& converter, const RunRequest& request, int rotation, double fps)
        : converter(converter), request(request), rotation(rotation), fps(fps) {}

    StepOutcome step(const StepFrame& frame, cv::Mat& image) override;

private:
    PictureConverter& converter;
    const RunRequest& request;
    const int rotation;
    const double fps;
    GreyPicture grey;
    cv::Mat small;
    cv::Mat watched;   // where the scene is learnt, at the detector's size
    cv::Mat standing;  // where an object counts, at the video's
    std::unique_ptr<ObjectDetector> detector;
};

}  // namespace pelmora
