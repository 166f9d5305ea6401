#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DetectionRun.h"
#include "RunObserver.h"
#include "RunRecorder.h"
#include "RunRequest.h"
#include "SegmentRecord.h"

namespace pelmora {

// The stretches of one video in its snapshot folder, in stretch order.
struct SegmentSet {
    std::string folder;
    std::vector<std::string> folders;  // each stretch's own folder
    std::vector<SegmentRecord> records;
    std::string error;  // why they are no whole set of stretches, or nothing
    bool none = false;  // the folder holds no stretch at all
};

// The stretches in folder: refused (error) when there are none, when they are of different
// counts of stretches, when one is missing (not finished) or damaged, or when a file a join
// reads is not the one its stretch wrote (see checkSegmentFiles).
SegmentSet readSegments(const std::string& folder);

// The hidden folder inside the snapshot folder where a join makes the one run's files, so
// that they go into the snapshot folder only once all of them are there.
std::string joinStagingFolder(const std::string& folder);

// A host whose lines name the snapshot folder where they name its join's staging folder: what
// is made there is meant for the snapshot folder, and is in it once the join is done.
class StagedHost : public RunHost {
public:
    StagedHost(RunHost& host, const std::string& folder);

    void tell(const RunMessage& message) override;
    void progress(int percent) override { host.progress(percent); }
    bool stopAfterFrame() override { return host.stopAfterFrame(); }

private:
    RunHost& host;
    std::string staged;  // the staging folder's prefix of a path
    std::string shown;   // the snapshot folder's
};

struct JoinRequest {
    // The options of the scans again, as the stretches were scanned (threshold, minimum,
    // watched region, clock, writers); the video, the folder, the observer and the stretch are
    // the join's own.
    RunRequest run;
    // What every record must say of the video and the options.
    std::vector<std::pair<std::string, std::string>> identity;
    // Told the frames and snapshots of the one run, as that run would have told it, in the
    // staging folder: the lists and the report come out as that run's. May be null.
    RunObserver* recorder = nullptr;
    // Whether the snapshots and clips of an earlier run in the snapshot folder go too when the
    // join's files come in; its lists, report and record always go.
    bool removeEarlierSnapshots = false;
    // Called once the one run's files are complete in the staging folder (the report's
    // outputDir), before any of them goes into the snapshot folder, for what the front end
    // checks and adds there (its record). A reason returned fails the join.
    std::function<std::string(const RunReport& report)> staged{};
};

struct JoinResult {
    enum class Outcome {
        Joined,        // the folder holds what one run would have left there
        Refused,       // records of other options or another file: nothing was done
        OneRunNeeded,  // the stretches cannot be joined exactly: scan the video as one run
        Failed,        // a file could not be written or moved, or the join was stopped
    };
    Outcome outcome = Outcome::Failed;
    std::string message;  // why it was not joined
    RunReport report;     // the one run's, when joined
    long long framesScannedAgain = 0;
    // "PATH: REASON" for what a finished join could not take away afterwards.
    std::vector<std::string> leftovers;
};

// Makes one run's files of the stretches. Stretch 0 is the one run's from the start, and its
// reference at its end is that run's. Each later stretch is scanned again from its first frame
// with the one run's reference there, until that run takes a snapshot the stretch's own run
// took too: from there on the two compare with the same frame and agree, so the stretch's own
// results stand for the rest of it and its own reference for the one run's at its end. When the
// two never meet, the scan again covers the whole stretch and ends with that reference itself.
//
// The one run's snapshots (those scanned again written anew, the others linked from the
// stretches' folders), lists, report and clips are made in the staging folder, and go into the
// snapshot folder together once they are all there; the stretches' folders stay as they are
// until then. A join that fails or is stopped before leaves the snapshot folder as it found it,
// and one killed at any point can be finished or started again (see finishStoppedJoin).
// Once everything is in place the stretches' folders are removed.
JoinResult joinSegments(const SegmentSet& segments, const JoinRequest& request, RunHost& host);

// What a join killed part-way left in folder, taken care of.
struct StoppedJoin {
    enum class Outcome {
        None,       // there was none
        Discarded,  // it stopped before its files were complete: the stretches are as they were
        Finished,   // its files were all made: they are in the folder now, and the stretches gone
        Failed,     // what it left could not be taken care of (see message)
    };
    Outcome outcome = Outcome::None;
    std::string message;
    std::vector<std::string> leftovers;  // as in JoinResult
};
StoppedJoin finishStoppedJoin(const std::string& folder);

// Removes the stretches' folders and everything in them; "PATH: REASON" for what stayed.
std::vector<std::string> removeSegments(const SegmentSet& segments);

// A join of a folder, as every front end asks for it.
struct JoinFolderRequest {
    std::string folder;
    // The options of the scans again, as the stretches were scanned; the video, the folder, the
    // observer and the stretch are the join's own.
    RunRequest run;
    RecordOptions records;
    // Whether the snapshots and clips of an earlier run in the folder go (see JoinRequest).
    bool removeEarlierSnapshots = false;
    // What every record must say of a video and the options (see SegmentRecord::identity).
    std::function<std::vector<std::pair<std::string, std::string>>(const std::string& video)>
        identity;
    // The run the front end's record in the folder says is complete there, of which video;
    // nothing when there is none.
    std::function<std::optional<std::pair<std::string, RunReport>>(const std::string& folder)>
        doneBefore;
    // The front end's own last step, as in VideoRunRequest::finish, for the video joined.
    std::function<std::string(const std::string& video, const RunReport& report, bool complete)>
        finish;
    // Asked while clips are cut and files are moved; true stops the join.
    std::function<bool()> stopRequested;
};

struct JoinFolderResult {
    enum class Outcome {
        Joined,         // the folder holds one run's files, made of the stretches
        AlreadyJoined,  // it held them already: nothing was done
        OneRun,         // the stretches could not be joined exactly: the video was scanned whole
        Refused,        // nothing was done or the join failed, for the reason given
    };
    Outcome outcome = Outcome::Refused;
    std::string reason;  // why it was refused
    std::string video;
    RunReport report;
    bool failed = false;  // a front end's status 1
    std::size_t stretches = 0;
    long long framesScannedAgain = 0;
};

// Joins the stretches in a folder into one run's files, as one entry for the front ends: holds
// the folder, finishes or discards what a join killed part-way left, says a folder already
// joined is so, joins (see joinSegments) or, where the stretches cannot be joined exactly,
// scans the video as one run (see runVideo), and takes the stretches away once their files
// stand for them. What it has to say goes to host.
JoinFolderResult joinFolder(const JoinFolderRequest& request, RunHost& host);

}  // namespace pelmora
