#include "EventGrouper.h"

#include <utility>

namespace pelmora {

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
        // The one before is no longer the last: it may show the event.
        if (latest.changedPixels > picturePixels) {
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
    open = true;
    return closed;
}

MotionEvent EventGrouper::closing() const {
    MotionEvent event = current;
    if (picturePixels < 0) {
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
