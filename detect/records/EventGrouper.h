#pragma once

#include <optional>
#include <string>
#include <vector>

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
    // The frames of its first and last snapshot, so that its snapshots can be found again.
    long long firstFrame = 0;
    long long lastFrame = 0;
    // The snapshot that shows it: the busiest but its last, where it has more than one. The last
    // is often the busiest only because the reference still holds what moved and the frame no
    // longer does: it shows the scene left empty.
    std::string pictureFile;
    long long pictureMs = 0;
    bool pictureSaved = false;
    // Where a detector that finds objects found them: the box round every object of every
    // snapshot, and the most seen at once. With objects, the picture is the snapshot of the
    // largest object instead.
    cv::Rect box{};
    int mostObjects = 0;
    std::vector<cv::Rect> pictureBoxes{};  // the objects of its picture
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
    // The event still open, as far as it has come, or none.
    std::optional<MotionEvent> openEvent() const {
        return open ? std::make_optional(closing()) : std::nullopt;
    }

private:
    // The open event as it stands, its picture chosen among the snapshots before the latest.
    MotionEvent closing() const;
    // A snapshot's objects into the open event: its box, its count, its picture.
    void addObjects(const SnapshotOutcome& snapshot);

    long long gapMs;
    MotionEvent current;
    bool open = false;
    SnapshotOutcome latest;        // the open event's last snapshot so far
    int picturePixels = -1;        // the changed pixels of its picture so far; -1: none yet
    long long largestObject = -1;  // the area of its picture's largest object so far
};

}  // namespace pelmora
