#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "RegionShapes.h"
#include "VideoStart.h"

namespace pelmora {

struct RunReport;

// What a run knows of its video before the first frame.
struct RunFacts {
    std::string videoPath;
    std::string outputDir;
    cv::Size frameSize;  // as the container announces it; 0 x 0 when it does not
    double fps = 0.0;    // the container's rate; not usable when 0, negative or not finite
    long long framesAnnounced = 0;
    int threshold = 0;
    int minPixels = 0;          // a snapshot needs more changed pixels than this
    bool wholeFrame = true;     // false when change counts only in a watched region
    std::string watchedRegion;  // the picture that region was read from; empty without one
    // The frames the run expects to read: those announced, or fewer where the container's
    // duration says it holds fewer (see VideoSource::expectedFrames); 0 when unknown.
    long long framesExpected = 0;
    VideoStart start;  // the first frame's clock time, where something tells it
    // The detector finds objects and says where they are (see SnapshotOutcome::boxes).
    bool findsObjects = false;
    RegionShapes regions{};  // the polygons drawn on the video, as the watched region has them
};

// One frame's measure: its changed pixels against the reference.
struct FrameMeasure {
    long long frame = 0;   // counted from 0
    long long timeMs = 0;  // the frame's time in whole milliseconds, as in its snapshot's name
    int changedPixels = 0;
    // The frame's presentation time in whole milliseconds; its index time where it has none.
    long long streamMs = 0;
    // Compared with the black a video starts from (see FrameDetector::measuredAgainstBlack):
    // its changed pixels are the whole picture, not motion.
    bool againstBlack = false;
};

// A frame that triggered, once its file is written or has failed.
struct SnapshotOutcome {
    long long frame = 0;
    long long timeMs = 0;
    int changedPixels = 0;
    std::string file;  // the snapshot's file name in the run's folder
    bool saved = false;
    long long streamMs = 0;     // as in FrameMeasure
    bool againstBlack = false;  // as in FrameMeasure: a snapshot of the start, not an event
    // The objects in it, in the snapshot's pixels, where the detector finds objects.
    std::vector<cv::Rect> boxes{};
};

// Follows a run frame by frame, for records of what it found. Every call comes on the thread
// that called the run, in frame order: runStarted once the snapshot folder is ready, then each
// frame's measure, each snapshot's outcome once its write is known (which in a quiet run may
// be a few frames later), and runFinished once every snapshot is written.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void runStarted(const RunFacts& facts) = 0;
    virtual void frameMeasured(const FrameMeasure& measure) = 0;
    virtual void snapshotDone(const SnapshotOutcome& snapshot) = 0;
    virtual void runFinished(const RunReport& report) = 0;
};

}  // namespace pelmora
