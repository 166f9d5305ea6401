#pragma once

#include <opencv2/core.hpp>

#include "ChangeCounter.h"
#include "OptionTable.h"
#include "WatchedRegion.h"

namespace pelmora {

// Compares each frame with a reference frame: how many pixels changed, and whether that is
// enough for a snapshot. The reference outlives a run: a later run starts from the reference
// the previous one left, and the first frame ever, or the first of another size, is compared
// with black. What a snapshot is called, what is drawn on it and where it is written are the
// frame loop's.
class FrameDetector {
public:
    // More than ten full mask pixels in the busiest channel, unless a run asks otherwise.
    static constexpr int kTriggerPixels = static_cast<int>(option::kMinPixels.scanDefault);

    // A copy of image becomes the reference, as if it had been the last snapshot.
    void setReference(const cv::Mat& image);

    // What counts from now on: the trigger and the watched region; the reference stays.
    void setRules(int minPixels = kTriggerPixels, const WatchedRegion& region = WatchedRegion());

    // The changed pixels of the frame's busiest channel against the reference, after the
    // threshold and erosion, inside the watched region. With rows, only the rows of frame that
    // rows makes are read.
    int measure(const cv::Mat& frame, int threshold, FrameRows* rows = nullptr);

    // Whether the last measured frame was the first compared with a black reference made for
    // it (the first frame ever, or the first of another size): black is no scene, so what
    // changed is the whole picture rather than motion. Later frames against that reference
    // are compared with what the video showed.
    bool measuredAgainstBlack() const { return againstBlack; }

    // More changed pixels than the rules' minimum.
    bool triggers(int changedPixels) const { return changedPixels > triggerPixels; }

    // The frame becomes the reference, clean, by trading buffers with it; frame is left
    // holding a copy of it.
    void takeAsReference(cv::Mat& frame);

    // The change mask of frame against the reference, made with the imaging library's own
    // chain and black outside the watched region: only a view or the tuning window needs it.
    // It is made anew for each call, so the caller may draw on it.
    cv::Mat& changeMask(const cv::Mat& frame, int threshold);

    const cv::Mat& reference() const { return referenceImage; }

private:
    cv::Mat referenceImage;
    cv::Mat diffImage;
    ChangeCounter counter;
    int triggerPixels = kTriggerPixels;
    WatchedRegion watched;
    bool freshBlack = false;  // the reference is black and no frame was measured against it
    bool againstBlack = false;
};

}  // namespace pelmora
