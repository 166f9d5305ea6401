#include "ObjectsStep.h"

#include <algorithm>
#include <climits>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "StatusLine.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// The boxes --boxes draws: green, two pixels wide, where they fit.
void drawBoxes(cv::Mat& image, const std::vector<cv::Rect>& boxes) {
    for (const cv::Rect& box : boxes) {
        cv::rectangle(image, box, cv::Scalar(0, 220, 0), 2);
    }
}

const char* noteText(ObjectOutcome::Note note) {
    switch (note) {
        case ObjectOutcome::Note::LightChange:
            return "light change";
        case ObjectOutcome::Note::CameraMoved:
            return "camera moved";
        case ObjectOutcome::Note::Shake:
            return "camera shake";
        case ObjectOutcome::Note::None:
            break;
    }
    return "";
}

}  // namespace

StepOutcome ObjectsStep::step(const StepFrame& frame, cv::Mat& image) {
    const Picture& picture = frame.picture;
    const cv::Size visible = converter.imageSize(picture);
    const cv::Size shown = rotation % 180 != 0 ? cv::Size(visible.height, visible.width) : visible;
    if (!detector || detector->videoSize() != shown) {
        // A new size starts the scene afresh, as the classic detector starts from black.
        detector = std::make_unique<ObjectDetector>(request.objects, shown, fps);
        watched = request.watched.forModel(shown, ObjectDetector::workingSize(shown));
        standing = request.watched.standing(shown);
    }
    if (!grey.make(picture, visible, rotation, ObjectDetector::workingSize(shown), small)) {
        throw std::runtime_error(PictureConverter::refusal(picture));
    }
    const ObjectOutcome& found = detector->step(small, frame.time.snapshotMs, watched, standing);
    StepOutcome outcome;
    outcome.changedPixels = static_cast<int>(std::min<long long>(found.pixels, INT_MAX));
    outcome.boxes = found.boxes;
    if (found.note != ObjectOutcome::Note::None) {
        outcome.line = formatText("%s: %s at %s", request.videoPath.c_str(), noteText(found.note),
                                  timecode(frame.time.snapshotMs).c_str());
    }
    const auto status = [&] {
        return statusLine(frame.time.seconds, outcome.changedPixels,
                          static_cast<int>(found.boxes.size()));
    };
    const bool shownNow = request.view != nullptr;
    if (found.snapshot || shownNow) {
        if (!converter.convert(picture, image)) {
            throw std::runtime_error(PictureConverter::refusal(picture));
        }
    }
    if (shownNow) {
        cv::Mat mask;
        cv::resize(detector->foreground(), mask, image.size(), 0, 0, cv::INTER_NEAREST);
        cv::cvtColor(mask, mask, cv::COLOR_GRAY2BGR);
        drawBoxes(mask, found.boxes);
        drawMaskStatus(mask, status());
        request.view->showFrame(image, mask);
    }
    if (found.snapshot) {
        if (request.boxes) {
            drawBoxes(image, found.boxes);
        }
        drawSnapshotStatus(image, status());
        outcome.snapshot = true;
    }
    return outcome;
}

}  // namespace pelmora
