#include "EventGrouper.h"

#include <algorithm>
#include <utility>

namespace pelmora {

namespace {

long long largestArea(const std::vector<cv::Rect>& boxes) {
    long long largest = -1;
    for (const cv::Rect& box : boxes) {
        largest = std::max<long long>(largest, box.area());
    }
    return largest;
}

}  // namespace

void EventGrouper::addObjects(const SnapshotOutcome& snapshot) {
    for (const cv::Rect& box : snapshot.boxes) {
        current.box = current.box.area() > 0 ? (current.box | box) : box;
    }
    current.mostObjects = std::max(current.mostObjects, static_cast<int>(snapshot.boxes.size()));
    const long long largest = largestArea(snapshot.boxes);
    if (largest > largestObject) {
        largestObject = largest;
        current.pictureFile = snapshot.file;
        current.pictureMs = snapshot.timeMs;
        current.pictureSaved = snapshot.saved;
        current.pictureBoxes = snapshot.boxes;
    }
}

std::optional<MotionEvent> EventGrouper::add(const SnapshotOutcome& snapshot) {
    std::optional<MotionEvent> closed;
    if (open && snapshot.timeMs - current.endMs <= gapMs) {
        current.endMs = snapshot.timeMs;
        current.lastFrame = snapshot.frame;
        ++current.snapshots;
        if (snapshot.changedPixels > current.peakPixels) {
            current.peakPixels = snapshot.changedPixels;
            current.peakFile = snapshot.file;
            current.peakSaved = snapshot.saved;
        }
        if (!snapshot.boxes.empty()) {
            // With objects, the picture is that of the largest, not the busiest but the last.
            addObjects(snapshot);
        } else if (latest.changedPixels > picturePixels) {
            // The one before is no longer the last: it may show the event.
            picturePixels = latest.changedPixels;
            current.pictureFile = latest.file;
            current.pictureMs = latest.timeMs;
            current.pictureSaved = latest.saved;
        }
        latest = snapshot;
        return closed;
    }
    const int number = current.number + 1;
    if (open) {
        closed = closing();
    }
    current = MotionEvent();
    current.number = number;
    current.startMs = current.endMs = snapshot.timeMs;
    current.snapshots = 1;
    current.peakPixels = snapshot.changedPixels;
    current.peakFile = snapshot.file;
    current.peakSaved = snapshot.saved;
    current.firstFrame = current.lastFrame = snapshot.frame;
    latest = snapshot;
    picturePixels = -1;
    largestObject = -1;
    if (!snapshot.boxes.empty()) {
        addObjects(snapshot);
    }
    open = true;
    return closed;
}

MotionEvent EventGrouper::closing() const {
    MotionEvent event = current;
    if (picturePixels < 0 && largestObject < 0) {
        event.pictureFile = latest.file;
        event.pictureMs = latest.timeMs;
        event.pictureSaved = latest.saved;
    }
    return event;
}

std::optional<MotionEvent> EventGrouper::finish() {
    if (!open) {
        return std::nullopt;
    }
    open = false;
    return closing();
}

}  // namespace pelmora
