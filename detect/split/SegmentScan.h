#pragma once

#include <string>
#include <utility>
#include <vector>

#include "DetectionRun.h"
#include "FrameDetector.h"
#include "RunRequest.h"

namespace pelmora {

struct SegmentRequest {
    // The video, the stretch's own folder (see segmentFolder) and the options; its stretch,
    // observer and folder handling are the segment's own.
    RunRequest run;
    int index = 0;  // K of K/N
    int count = 1;  // N
    // What the front end says of the video and the options, for the record (see
    // SegmentRecord::identity).
    std::vector<std::pair<std::string, std::string>> identity;
};

struct SegmentScan {
    RunReport report;
    // Why the stretch cannot be scanned exactly (the record says so, and a join scans the
    // whole video as one run), or nothing.
    std::string inexact;
    // Why the record could not be written, or nothing.
    std::string recordError;
    bool recorded = false;  // a record was written: the stretch is done, exactly or not
};

// Scans stretch K of N of a video on its own, from a black reference at its first frame, into
// its own folder (held against other runs, and cleared of what an earlier scan of it left), and
// leaves the record a join needs there: every frame's measure, every
// snapshot, the reference it ended with, and the checksum of each of those files. A stretch
// whose frames cannot be told by index is not scanned on (see whyNotSplittable); its record
// says why. A run that is stopped, or that loses a snapshot, leaves no record.
SegmentScan scanSegment(const SegmentRequest& request, RunHost& host);

}  // namespace pelmora
