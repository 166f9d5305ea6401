#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "ChangeCounter.h"
#include "FrameClock.h"
#include "OptionTable.h"
#include "RunLog.h"
#include "SnapshotNaming.h"
#include "SnapshotWriter.h"
#include "VideoJob.h"
#include "WatchedRegion.h"

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
// The reference outlives a run: a later run starts from the reference the previous one left,
// and the first frame ever, or the first of another size, is compared with black.
class FrameDetector {
public:
    // More than ten full mask pixels in the busiest channel, unless a run asks otherwise.
    static constexpr int kTriggerPixels = static_cast<int>(option::kMinPixels.scanDefault);

    // Makes the reference black, at the frame's size.
    void allocateImages(const cv::Mat& frame);
    // A copy of image becomes the reference, as if it had been the last snapshot.
    void setReference(const cv::Mat& image);

    // Starts the snapshot names of a new run afresh, with nameDigits digits (see
    // snapshotDigits), and sets its trigger and watched region; the reference stays.
    void beginRun(int minPixels = kTriggerPixels, const WatchedRegion& region = WatchedRegion(),
                  int nameDigits = 8);

    // The changed pixels of the frame's busiest channel against the reference, after the
    // threshold and erosion, inside the watched region; also sets the status line for this
    // frame. With rows, only the rows of frame that rows makes are read.
    int measure(const cv::Mat& frame, int threshold, const FrameTime& time,
                FrameRows* rows = nullptr);

    // Whether the last measured frame was the first compared with a black reference made for
    // it (the first frame ever, or the first of another size): black is no scene, so what
    // changed is the whole picture rather than motion. Later frames against that reference
    // are compared with what the video showed.
    bool measuredAgainstBlack() const { return againstBlack; }

    // More changed pixels than the run's minimum.
    bool triggers(int changedPixels) const { return changedPixels > triggerPixels; }

    // The frame becomes the reference, clean, by trading buffers with it; frame then holds a
    // copy with the status line drawn on it, ready to be saved. Returns the snapshot's path.
    std::string takeSnapshot(cv::Mat& frame, const VideoJob& job, const FrameTime& time);

    // Counts a snapshot's write and logs it: "[path]", or why it failed.
    void recordSnapshot(const std::string& path, const WriteResult& result, RunLog& log);

    // The change mask of the last measured frame, made with the imaging library's own chain,
    // black outside the watched region, and carrying the status line: only a run that shows
    // it needs it.
    const cv::Mat& drawMask(const cv::Mat& frame, int threshold);
    // The same mask without the status line, for a view that says the count in its own words.
    const cv::Mat& changeMask(const cv::Mat& frame, int threshold);

    // One whole detector step, the snapshot written before it returns. When the frame is
    // saved, frame is left holding the saved image.
    FrameOutcome processFrame(cv::Mat& frame, int threshold, const FrameTime& time,
                              const VideoJob& job, RunLog& log);

    const cv::Mat& reference() const { return referenceImage; }
    const cv::Mat& mask() const { return diffImage; }
    // Formatted only where it is drawn or asked for, not for every frame.
    std::string lastStatusLine() const;
    const std::string& lastSnapshotPath() const { return snapshotPath; }
    const std::string& lastSnapshotName() const { return snapshotName; }
    int lastChangedPixels() const { return changedPixels; }
    const SnapshotTally& tally() const { return snapshots; }

private:
    cv::Mat referenceImage;
    cv::Mat diffImage;
    ChangeCounter counter;
    SnapshotWriter writer;
    SnapshotNamer namer;
    int triggerPixels = kTriggerPixels;
    WatchedRegion watched;
    int changedPixels = 0;
    bool freshBlack = false;  // the reference is black and no frame was measured against it
    bool againstBlack = false;
    double lastSeconds = 0.0;
    int lastThreshold = 0;
    std::string snapshotName;
    std::string snapshotPath;
    SnapshotTally snapshots;
};

}  // namespace pelmora
