#pragma once

#include <string>

#include "FrameDetector.h"
#include "RunLog.h"
#include "RunObserver.h"
#include "WatchedRegion.h"

namespace pelmora {

struct RunRequest {
    std::string videoPath;
    std::string outputDir;  // empty: derived from the video path
    int threshold = 0;
    bool detailed = false;  // show the frame and the mask while running
    int writers = 0;        // threads that write snapshots; 0: enough for this machine
    int minPixels = FrameDetector::kTriggerPixels;  // a snapshot needs more changed pixels
    WatchedRegion watched{};                        // where change counts: the whole frame
    RunObserver* observer = nullptr;                // told of every frame and snapshot
};

// What a front end supplies to a run: where its lines go (RunLog), where the progress goes,
// and the wait after each frame that tells whether to stop.
class RunHost : public RunLog {
public:
    // percent is always within 0..100.
    virtual void progress(int percent) = 0;
    // Called once after each frame; true stops the run before the next one.
    virtual bool stopAfterFrame() = 0;
};

struct RunReport {
    enum class Status { Finished, Stopped, OpenFailed, OutputUnusable };
    Status status = Status::Finished;
    std::string outputDir;    // where the snapshots went
    std::string outputError;  // why outputDir cannot hold snapshots
    long long framesRead = 0;
    long long framesAnnounced = 0;  // the container's frame count; 0 when it gives none
    long long snapshotsWritten = 0;
    long long snapshotsLost = 0;
};

// "795 frames" ("1 frame"), or, when a finished run read more than 1 % more or fewer frames than
// the container announced, "68 frames read, 444 announced": a truncated file shows, and so does a
// container whose count is simply wrong.
std::string framesText(const RunReport& report);

// Percent of frames done, truncated; -1 when that is not a percentage (no or too low a
// frame count).
int progressPercent(long long framesDone, long long frameCount);

// One whole detection run over a video, frame by frame until the video ends or the host
// asks to stop. The detector keeps its reference for the next run.
//
// A quiet run decodes on a thread of its own and writes snapshots on others, while the host
// still sees every call on the calling thread and in frame order: a "[path]" line once its
// file is completely written, progress and the stop question once per frame. A stop takes
// effect after the current frame; the snapshots taken by then are written and logged before
// the run returns. A detailed run, paced by its display windows, does each step in turn.
// A watched region of another size than the frames is scaled to them, with a warning.
RunReport runDetection(FrameDetector& detector, const RunRequest& request, RunHost& host);

}  // namespace pelmora
