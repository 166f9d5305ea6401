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

std::string frameStatus(const FrameTime& time, const ObjectOutcome& outcome) {
    return statusLine(time.seconds, objectsPixels(outcome), static_cast<int>(outcome.boxes.size()));
}

}  // namespace

void drawObjectsSnapshot(cv::Mat& image, const FrameTime& time, const ObjectOutcome& outcome,
                         bool boxes) {
    if (boxes) {
        drawBoxes(image, outcome.boxes);
    }
    drawSnapshotStatus(image, frameStatus(time, outcome));
}

int objectsPixels(const ObjectOutcome& outcome) {
    return static_cast<int>(std::min<long long>(outcome.pixels, INT_MAX));
}

std::string objectsNote(const std::string& videoPath, ObjectOutcome::Note note, long long ms) {
    if (note == ObjectOutcome::Note::None) {
        return std::string();
    }
    return formatText("%s: %s at %s", videoPath.c_str(), noteText(note), timecode(ms).c_str());
}

StepOutcome ObjectsStep::step(const StepFrame& frame, cv::Mat& image) {
    const Picture& picture = frame.picture;
    const cv::Size visible = converter.imageSize(picture);
    const cv::Size shown = rotation % 180 != 0 ? cv::Size(visible.height, visible.width) : visible;
    const bool newScene = !detector || detector->videoSize() != shown;
    if (newScene) {
        // A new size starts the scene afresh, as the classic detector starts from black.
        detector = std::make_unique<ObjectDetector>(request.objects, shown, fps);
        watched = request.watched.forModel(shown, ObjectDetector::workingSize(shown));
        standing = request.watched.standing(shown);
    }
    if (!grey.make(picture, visible, rotation, ObjectDetector::workingSize(shown), small)) {
        throw std::runtime_error(PictureConverter::refusal(picture));
    }
    const ObjectOutcome& found = detector->step(small, frame.time.snapshotMs, watched, standing);
    if (request.index != nullptr) {
        request.index->add(
            {frame.index, frame.time, frame.streamMs, newScene, shown, detector->lastScene()});
    }
    StepOutcome outcome;
    outcome.changedPixels = objectsPixels(found);
    outcome.boxes = found.boxes;
    outcome.line = objectsNote(request.videoPath, found.note, frame.time.snapshotMs);
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
        drawMaskStatus(mask, frameStatus(frame.time, found));
        request.view->showFrame(image, mask);
    }
    if (found.snapshot) {
        drawObjectsSnapshot(image, frame.time, found, request.boxes);
        outcome.snapshot = true;
    }
    return outcome;
}

}  // namespace pelmora
