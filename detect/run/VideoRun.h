#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "KnownMoments.h"
#include "RecordOptions.h"
#include "RunFolder.h"
#include "RunRequest.h"
#include "SettingSweep.h"
#include "SweepTally.h"

namespace pelmora {

class FrameDetector;
class RecordListener;

// Every setting of a sweep at once instead of one run: what each would find, tallied by
// setting, with no snapshot, list or clip written.
struct SweepRequest {
    std::vector<SweepSetting> settings;
    // Moments known to hold motion, which the table says how well each setting finds.
    std::vector<KnownMoment> moments;
    // The table (sweep.csv), and with the records' report its page (sweep.html), written into
    // the snapshot folder, which is held while the sweep runs; without, no folder is made.
    bool intoFolder = true;
    // The tally to fill, for a caller that shows it as it grows (on the run's thread, between
    // frames); one of its own when null. Made with the settings, the event gap and the moments
    // above.
    SweepTally* tally = nullptr;
};

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
    // Asked while the clips are cut and the digest made; true abandons them and stops the run.
    std::function<bool()> stopRequested;
    // A sweep instead of one run; the run's threshold and trigger size then count for nothing.
    std::optional<SweepRequest> sweep;
    // The caller's own last step, while the folder is still held: the mark of a run that is
    // complete (finished with every snapshot, list, report and clip it was asked for), which
    // --resume trusts, or a stretch's record. Returns why it could not be done ("cannot write
    // ..."), which fails the run, or nothing.
    std::function<std::string(const RunReport& report, bool complete)> finish;
};

struct VideoRunResult {
    // As recorded: a run whose clips or digest a stop abandoned is stopped, since not all it was
    // asked for is there.
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
    // A sweep's row for each setting, and the most frames it held as references at once.
    std::vector<SweepRow> sweepRows;
    std::size_t mostReferences = 0;
};

// Runs one video into its folder: holds the folder against every other run, deals with what an
// earlier run left there, runs the frame loop with its records, cuts the clips, settles the
// outcome, writes the front end's record of a complete run and says what earlier snapshots
// stay. Everything it has to say goes to host as it happens. The detector's reference carries
// over to the next run.
//
// A sweep goes through the same frame loop, measuring every setting of it on each frame (see
// SettingSweep) and tallying what each would find; it holds the folder only to write its
// table there, and leaves every file of earlier runs as it is.
VideoRunResult runVideo(FrameDetector& detector, const VideoRunRequest& request, RunHost& host);

}  // namespace pelmora
