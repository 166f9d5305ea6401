#include "FrameDetector.h"

#include <opencv2/highgui.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "DisplayWindow.h"
#include "SnapshotNaming.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

const cv::Point kStatusOrigin(20, 20);
const cv::Scalar kMaskTextColour(255, 255, 0, 0);   // cyan, in blue-green-red order
const cv::Scalar kFrameTextColour(0, 255, 255, 0);  // yellow

void drawStatus(cv::Mat& image, const std::string& text, const cv::Scalar& colour) {
    cv::putText(image, text, kStatusOrigin, cv::FONT_HERSHEY_PLAIN, 1.0, colour, 1, cv::LINE_8);
}

double busiestChannelSum(const cv::Mat& mask) {
    const cv::Scalar sums = cv::sum(mask);
    double maxSum = sums[0];
    if (sums[1] > maxSum) {
        maxSum = sums[1];
    }
    if (sums[2] > maxSum) {
        maxSum = sums[2];
    }
    return maxSum;
}

bool writeJpeg(const std::string& path, const cv::Mat& image) {
    try {
        return cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        return false;
    }
}

}  // namespace

void FrameDetector::allocateImages(const cv::Mat& frame) {
    referenceImage.create(frame.size(), CV_8UC3);
    currentImage.create(frame.size(), CV_8UC3);
    diffImage.create(frame.size(), CV_8UC3);
    referenceImage.setTo(cv::Scalar::all(0));
}

FrameOutcome FrameDetector::processFrame(cv::Mat& frame, int threshold, const FrameTime& time,
                                         const VideoJob& job, bool detailed, RunLog& log) {
    // A video of another size than the last one starts again from black rather than failing.
    if (referenceImage.empty() || referenceImage.size() != frame.size()) {
        allocateImages(frame);
    }
    frame.copyTo(currentImage);
    if (detailed) {
        cv::imshow(job.getVideoPath(), currentImage);
    }
    cv::absdiff(currentImage, referenceImage, diffImage);
    cv::threshold(diffImage, diffImage, threshold, 255.0, cv::THRESH_BINARY);
    cv::erode(diffImage, diffImage, cv::Mat());

    const double maxSum = busiestChannelSum(diffImage);
    const int changedPixels = static_cast<int>(maxSum / 255.0);
    statusText = statusLine(time.seconds, changedPixels, threshold);
    drawStatus(diffImage, statusText, kMaskTextColour);
    if (detailed) {
        cv::imshow(kMaskWindowName, diffImage);
    }
    drawStatus(frame, statusText, kFrameTextColour);

    if (!(maxSum > kTriggerSum)) {
        return FrameOutcome::NoMotion;
    }
    snapshotPath = joinPath(job.getOutputDir(), snapshotFileName(time.snapshotMs));
    const bool saved = writeJpeg(snapshotPath, frame);
    if (saved) {
        ++snapshots.written;
        log.write(LogKind::SnapshotSaved, formatText("[%s]\n", snapshotPath.c_str()));
    } else {
        ++snapshots.lost;
        log.write(LogKind::Failure, formatText("Failed to save %s\n", snapshotPath.c_str()));
    }
    // The reference moves either way, so that one lost write does not turn every later frame
    // into a snapshot against a stale reference.
    currentImage.copyTo(referenceImage);
    return saved ? FrameOutcome::SnapshotSaved : FrameOutcome::SnapshotLost;
}

}  // namespace pelmora
