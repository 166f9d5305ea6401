#pragma once

#include <string>
#include <vector>

#include "ClipWriter.h"
#include "EventGrouper.h"
#include "RunObserver.h"

namespace pelmora {

// What a run's records hold, told as they grow, on the run's thread and in order: a front end
// that shows a run from these shows what its lists and report say, row for row.
class RecordListener {
public:
    virtual ~RecordListener() = default;
    // Once the snapshot folder is ready, before the first frame.
    virtual void recordStarted(const RunFacts& facts) = 0;
    // Each frame, as the chart has it (see Timeline::add for what sets no scale).
    virtual void framePlotted(const FrameMeasure& measure) = 0;
    // Each row of the list of snapshots, once its file is written or has failed.
    virtual void snapshotListed(const SnapshotOutcome& snapshot) = 0;
    // The event still open, as far as it has come, after each snapshot that grew it.
    virtual void eventGrowing(const MotionEvent& event) = 0;
    // Each event once it is closed, numbered as the list of events numbers it.
    virtual void eventClosed(const MotionEvent& event) = 0;
    // The clips, once they are cut, saved or not.
    virtual void clipsCut(const std::vector<ClipOutcome>& clips) = 0;
    // The digest's file, once it is saved.
    virtual void digestSaved(const std::string& path) = 0;
};

}  // namespace pelmora
