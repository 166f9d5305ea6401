#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "FrameClock.h"
#include "RunLog.h"
#include "VideoJob.h"

namespace pelmora {

enum class FrameOutcome {
    NoMotion,
    SnapshotSaved,
    SnapshotLost,  // the trigger fired but the file could not be written
};

struct SnapshotTally {
    long long written = 0;
    long long lost = 0;
};

// Compares each frame with a reference frame and saves the frames that changed enough.
// The working images and the reference outlive a run: a later run starts from the reference
// the previous one left, and the first frame ever is compared with black.
class FrameDetector {
public:
    // More than ten full mask pixels in the busiest channel.
    static constexpr double kTriggerSum = 2550.0;

    // Makes the working images at the frame's size, the reference black.
    void allocateImages(const cv::Mat& frame);

    // One detector step. Draws the status line onto the frame, which a snapshot saves with it.
    // A detailed run shows the clean frame in the window named after the job's video and the
    // mask in "diff".
    FrameOutcome processFrame(cv::Mat& frame, int threshold, const FrameTime& time,
                              const VideoJob& job, bool detailed, RunLog& log);

    const cv::Mat& reference() const { return referenceImage; }
    const cv::Mat& mask() const { return diffImage; }
    const std::string& lastStatusLine() const { return statusText; }
    const std::string& lastSnapshotPath() const { return snapshotPath; }
    const SnapshotTally& tally() const { return snapshots; }

private:
    cv::Mat referenceImage;
    cv::Mat currentImage;
    cv::Mat diffImage;
    std::string statusText;
    std::string snapshotPath;
    SnapshotTally snapshots;
};

}  // namespace pelmora
