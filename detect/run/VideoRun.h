#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "RecordOptions.h"
#include "RunFolder.h"
#include "RunRequest.h"

namespace pelmora {

class FrameDetector;
class RecordListener;

// One video run into its snapshot folder, as every front end asks for it.
struct VideoRunRequest {
    // The video, the folder (empty: derived from the video), the frame loop's options and its
    // view. An observer given here hears the frames and snapshots too, beside the records.
    RunRequest run;
    // The lists, report and clips to write beside the snapshots.
    RecordOptions records;
    // What becomes of the snapshots and clips an earlier run left in the folder.
    EarlierSnapshots earlier = EarlierSnapshots::Keep;
    // Told what the records hold as they grow; may be null.
    RecordListener* listener = nullptr;
    // Asked while the clips are cut; true abandons them and stops the run.
    std::function<bool()> stopRequested;
    // The caller's own last step, while the folder is still held: the mark of a run that is
    // complete (finished with every snapshot, list, report and clip it was asked for), which
    // --resume trusts, or a stretch's record. Returns why it could not be done ("cannot write
    // ..."), which fails the run, or nothing.
    std::function<std::string(const RunReport& report, bool complete)> finish;
};

struct VideoRunResult {
    // As recorded: a run whose clips a stop abandoned is stopped, since not all it was asked
    // for is there.
    RunReport report;
    // The video did not open or could not be read through, its folder could not take files, or
    // a snapshot, list, report, clip or record could not be written: a front end's status 1.
    bool failed = false;
    // Finished with everything it was asked for, and marked so.
    bool complete = false;
    std::vector<ClipOutcome> clips;
    long long clipsLost = 0;
    // Snapshots of an earlier run that stay in the folder beside this run's.
    long long earlierSnapshots = 0;
};

// Runs one video into its folder: holds the folder against every other run, deals with what an
// earlier run left there, runs the frame loop with its records, cuts the clips, settles the
// outcome, writes the front end's record of a complete run and says what earlier snapshots
// stay. Everything it has to say goes to host as it happens. The detector's reference carries
// over to the next run.
VideoRunResult runVideo(FrameDetector& detector, const VideoRunRequest& request, RunHost& host);

}  // namespace pelmora
