#include "FrameDetector.h"

#include <opencv2/imgproc.hpp>
#include <utility>

namespace pelmora {

void FrameDetector::setReference(const cv::Mat& image) {
    image.copyTo(referenceImage);
    // A picture of the video, so the next frame is compared with the video itself.
    freshBlack = false;
}

void FrameDetector::setRules(int minPixels, const WatchedRegion& region) {
    triggerPixels = minPixels;
    watched = region;
}

int FrameDetector::measure(const cv::Mat& frame, int threshold, FrameRows* rows) {
    // A video of another size than the last one starts again from black rather than failing.
    if (referenceImage.empty() || referenceImage.size() != frame.size()) {
        referenceImage.create(frame.size(), CV_8UC3);
        referenceImage.setTo(cv::Scalar::all(0));
        freshBlack = true;
    }
    againstBlack = std::exchange(freshBlack, false);
    return static_cast<int>(
        counter.count(frame, referenceImage, threshold, watched.forFrames(frame.size()), rows)
            .busiest());
}

void FrameDetector::takeAsReference(cv::Mat& frame) {
    std::swap(referenceImage, frame);
    referenceImage.copyTo(frame);
}

cv::Mat& FrameDetector::changeMask(const cv::Mat& frame, int threshold) {
    cv::absdiff(frame, referenceImage, diffImage);
    cv::threshold(diffImage, diffImage, threshold, 255.0, cv::THRESH_BINARY);
    cv::erode(diffImage, diffImage, cv::Mat());
    if (!watched.wholeFrame()) {
        cv::bitwise_and(diffImage, watched.forFrames(frame.size()), diffImage);
    }
    return diffImage;
}

}  // namespace pelmora
