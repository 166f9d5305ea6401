#pragma once

#include <string>
#include <utility>
#include <vector>

#include "DetectionRun.h"
#include "RunObserver.h"
#include "RunRequest.h"
#include "SegmentRecord.h"

namespace pelmora {

// The records of the stretches of one video in its snapshot folder, in stretch order.
struct SegmentSet {
    std::string folder;
    std::vector<std::string> folders;  // each stretch's own folder
    std::vector<SegmentRecord> records;
    std::string error;  // why they are no whole set of stretches, or nothing
};

// The stretches' records in folder: refused (error) when there are none, when they are of
// different counts of stretches, when one is missing (not finished) or damaged, or when a file
// a join reads is not the one its stretch wrote (see checkSegmentFiles).
SegmentSet readSegments(const std::string& folder);

struct JoinRequest {
    // The options of the scans again, as the stretches were scanned (threshold, minimum,
    // watched region, clock, writers); the video is the records'. folderReady is called once,
    // on the snapshot folder, before anything is written there.
    RunRequest run;
    // What every record must say of the video and the options.
    std::vector<std::pair<std::string, std::string>> identity;
    // Told the frames and snapshots of the one run, as that run would have told it: the lists
    // and the report come out as that run's. May be null.
    RunObserver* recorder = nullptr;
};

struct JoinResult {
    enum class Outcome {
        Joined,        // the folder holds what one run would have left there
        Refused,       // records of other options or another file: nothing was done
        OneRunNeeded,  // the stretches cannot be joined exactly: scan the video as one run
        Failed,        // a file could not be written or moved, or the run was stopped
    };
    Outcome outcome = Outcome::Failed;
    std::string message;  // why it was not joined
    RunReport report;     // the one run's, when joined
    long long framesScannedAgain = 0;
};

// Makes one run's files of the stretches: each stretch after the first is scanned again from
// its first frame with the reference the one run had there, until that run takes a snapshot
// the stretch's own run took too (from there on the two agree, as both compare with that
// frame), or to the stretch's end. The snapshots of the one run go into the snapshot folder,
// those scanned again written anew and the others moved there from the stretches' folders, and
// the recorder is told the whole run in order. The stretches' folders stay as they are (see
// removeSegments); what a failed join wrote into the snapshot folder is removed again.
JoinResult joinSegments(const SegmentSet& segments, const JoinRequest& request, RunHost& host);

// Removes the stretches' folders and everything in them; "PATH: REASON" for what stayed.
std::vector<std::string> removeSegments(const SegmentSet& segments);

}  // namespace pelmora
