#pragma once

#include <opencv2/core.hpp>

namespace pelmora {

// What a camera's scene looks like when nothing passes, learnt pixel by pixel over seconds on a
// small grey picture, and what of a new picture it does not explain. Three things that are not
// motion are explained away first:
// - light: each patch of the picture may be brighter or darker than the model by a gain of its
//   own (a cloud's shadow, a lamp, the camera's exposure), found from the pixels that were
//   background a frame before and smoothed from patch to patch;
// - shake: the whole picture may be shifted against the model (a pole that sways), found by
//   phase correlation and undone before comparing;
// - movement in place: each pixel's threshold follows how much it deviates when nothing
//   passes, so leaves, water and rain raise it there while a still wall keeps it low.
class BackgroundModel {
public:
    // What the last picture did besides its foreground.
    struct Look {
        double gain = 1.0;             // the middle of the patches' gains
        cv::Point2d shift;             // undone, in the model's pixels
        double foregroundShare = 0.0;  // of the picture's pixels
    };

    // Learns afresh from grey (8-bit, one channel), at learnRate of a frame (1 / frames). With
    // keepDeviations, where each pixel strays stays as it was learnt: the light changed, not
    // the leaves.
    void reset(const cv::Mat& grey, double learnRate, bool keepDeviations = false);
    // Learns from now on at learnRate.
    void learnAt(double learnRate) { rate = learnRate; }
    bool learnt() const { return !mean.empty(); }
    cv::Size size() const { return mean.size(); }

    // The foreground of grey against the model (0 or 255), watched (0 or 255, or empty for all)
    // keeping only what lies there; the model then learns from grey where it is background,
    // and barely where it is not, so that an object that stops is taken in over tens of
    // seconds. look says what was explained.
    const cv::Mat& compare(const cv::Mat& grey, const cv::Mat& watched, Look& look);

    const cv::Mat& foreground() const { return mask; }
    // What differed in the last picture before it had to last two frames: where an object's
    // leading edge is.
    const cv::Mat& changes() const { return before; }

private:
    cv::Point2d shiftOf(const cv::Mat& picture);
    void gainMap(const cv::Mat& picture, double& middle);

    double rate = 0.02;
    cv::Mat mean;        // CV_32F
    cv::Mat deviation;   // CV_32F: the mean absolute deviation from the mean, when nothing passes
    cv::Mat gain;        // CV_32F, the picture's size
    cv::Mat mask;        // CV_8U
    cv::Mat changed;     // CV_8U: what differs, before it must last two frames
    cv::Mat before;      // the same of the frame before
    cv::Mat background;  // CV_32F: 1 where the last picture was background, 0 where not
    cv::Mat window;      // the phase correlation's Hanning window
    // Scratch, kept so that no picture is allocated per frame.
    cv::Mat picture, shifted, expected, residual, limit, work, small, smallMean, smallWeight;
};

}  // namespace pelmora
