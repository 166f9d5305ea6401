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
        return closed;
    }
    const int number = current.number + 1;
    if (open) {
        closed = std::move(current);
    }
    current = {
        number,         snapshot.timeMs, snapshot.timeMs, 1, snapshot.changedPixels, snapshot.file,
        snapshot.saved, snapshot.frame,  snapshot.frame};
    open = true;
    return closed;
}

std::optional<MotionEvent> EventGrouper::finish() {
    if (!open) {
        return std::nullopt;
    }
    open = false;
    return current;
}

}  // namespace pelmora
