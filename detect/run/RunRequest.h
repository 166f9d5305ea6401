#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <string>

#include "ObjectDetector.h"
#include "ObjectIndex.h"
#include "OptionTable.h"
#include "RunLog.h"
#include "RunObserver.h"
#include "RunReport.h"
#include "VideoStart.h"
#include "VideoStretch.h"
#include "WatchedRegion.h"

namespace pelmora {

class SettingSweep;
class SweepObserver;

// A question put to a finished objects run's index instead of its video: the request's own
// objects settings and kept polygons, over the frames whose clock time lies from fromUtcMs to
// toUtcMs. It leaves the files a run with those settings would (see answerFromIndex).
struct IndexQuestion {
    const ObjectIndex* index = nullptr;
    // The snapshots' pictures read from the video at their frames, or only listed, unsaved.
    bool snapshots = false;
    bool windowed = false;  // only the frames from fromUtcMs to toUtcMs, both included
    long long fromUtcMs = 0;
    long long toUtcMs = 0;
};

// What a front end shows of a run while it goes on: each frame as it was read and its change
// mask with the status line. Called on the run's thread; both images are valid only during
// the call.
class FrameView {
public:
    virtual ~FrameView() = default;
    virtual void showFrame(const cv::Mat& frame, const cv::Mat& mask) = 0;
};

// How snapshots are timed: by frame index and rate (the usual names), or by each frame's
// presentation time in the stream (for variable-rate videos and sparse coded frames).
enum class RunClock { Index, Stream };

// Which detector decides what is saved: the classic one (a frame that differs enough from the
// last snapshot), or the one for camera footage (objects that last and travel against a learnt
// background).
enum class DetectorKind { Classic, Objects };

struct RunRequest {
    std::string videoPath;
    std::string outputDir;  // empty: derived from the video path
    int threshold = 0;
    int writers = 0;  // threads that write snapshots; 0: enough for this machine
    // Threads the video's decoder runs on; 0: as many as the machine has. Runs that share the
    // machine with others take fewer.
    int decoderThreads = 0;
    // A snapshot needs more changed pixels than this.
    int minPixels = static_cast<int>(option::kMinPixels.scanDefault);
    WatchedRegion watched{};          // where change counts: the whole frame
    RunObserver* observer = nullptr;  // told of every frame and snapshot
    FrameView* view = nullptr;        // shown every frame and its mask
    RunClock clock = RunClock::Index;
    DetectorKind detector = DetectorKind::Classic;
    ObjectSettings objects{};  // the objects detector's
    bool boxes = false;        // each object's box drawn on the snapshots too
    // Called once the snapshot folder is ready, before the run writes anything into it, so that
    // a front end can claim the folder and clear what an earlier run left there. A reason
    // returned ends the run at once, as a folder that cannot hold snapshots.
    std::function<std::string(const std::string& folder)> folderReady{};
    // The frames to read: the whole video unless told otherwise.
    VideoStretch stretch{};
    // The frames to read by time instead, turned into the stretch above once the video is open;
    // a video whose frames cannot be told exactly after a seek is refused a start past its
    // first frame rather than read from a frame near it.
    StretchTimes times{};
    // Asked with the frame of each snapshot taken; true ends the run after that frame.
    std::function<bool(long long frame)> endsAfterSnapshot{};
    // Instead of the one setting above, every setting of the sweep, each as its own run would
    // go: its snapshots are told to sweepObserver, and none is written. The observer above
    // hears the start and the end of the run only, and the view is not shown.
    SettingSweep* sweep = nullptr;
    SweepObserver* sweepObserver = nullptr;
    // Whether the run writes into a folder: a sweep that only tells what it found need not, and
    // then no folder is made, readied or held.
    bool intoFolder = true;
    // Where the clock time of the first frame may come from, and the zone of the clock.
    StartOptions start{};
    // With the objects detector: where every frame's scene goes, for the run's index.
    ObjectIndexWriter* index = nullptr;
    // Answered from an index rather than the video; the detector and the stretch then count
    // for nothing.
    const IndexQuestion* question = nullptr;
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

}  // namespace pelmora
