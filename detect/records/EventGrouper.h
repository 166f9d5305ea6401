#pragma once

#include <optional>
#include <string>

#include "RunObserver.h"

namespace pelmora {

// Triggered frames that belong together: a stretch of motion in the video.
struct MotionEvent {
    int number = 0;  // counted from 1
    long long startMs = 0;
    long long endMs = 0;
    long long snapshots = 0;
    int peakPixels = 0;    // the most changed pixels of its snapshots
    std::string peakFile;  // the first snapshot with that many
    bool peakSaved = false;
};

// Groups the triggered frames of a run, in frame order, into events: one that follows the
// last by no more than the gap joins its event, a later one starts the next.
class EventGrouper {
public:
    explicit EventGrouper(long long gapMs) : gapMs(gapMs) {}

    // Adds a triggered frame; returns the event it closed by starting a new one, if it did.
    std::optional<MotionEvent> add(const SnapshotOutcome& snapshot);
    // Closes the event still open at the end of a run, if there is one.
    std::optional<MotionEvent> finish();

private:
    long long gapMs;
    MotionEvent current;
    bool open = false;
};

}  // namespace pelmora
