#pragma once

#include <memory>
#include <string>

#include "FrameStep.h"
#include "GreyPicture.h"
#include "ObjectDetector.h"
#include "PictureConverter.h"
#include "RunRequest.h"

namespace pelmora {

// A snapshot of the objects detector as a run saves it: image is the frame, converted whole, and
// at time the objects found were outcome's; the boxes drawn too where boxes is set.
void drawObjectsSnapshot(cv::Mat& image, const FrameTime& time, const ObjectOutcome& outcome,
                         bool boxes);
// The changed pixels a run tells of a frame where the objects detector found outcome.
int objectsPixels(const ObjectOutcome& outcome);
// The run's line of what the detector says of the scene at ms, or nothing.
std::string objectsNote(const std::string& videoPath, ObjectOutcome::Note note, long long ms);

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
