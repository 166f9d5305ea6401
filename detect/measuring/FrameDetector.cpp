#include "FrameDetector.h"

#include <opencv2/imgproc.hpp>
#include <utility>

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

}  // namespace

void FrameDetector::allocateImages(const cv::Mat& frame) {
    referenceImage.create(frame.size(), CV_8UC3);
    referenceImage.setTo(cv::Scalar::all(0));
    freshBlack = true;
}

void FrameDetector::setReference(const cv::Mat& image) {
    image.copyTo(referenceImage);
    // A picture of the video, so the next frame is compared with the video itself.
    freshBlack = false;
}

void FrameDetector::beginRun(int minPixels, const WatchedRegion& region, int nameDigits) {
    namer = SnapshotNamer(nameDigits);
    triggerPixels = minPixels;
    watched = region;
}

std::string FrameDetector::lastStatusLine() const {
    return statusLine(lastSeconds, changedPixels, lastThreshold);
}

int FrameDetector::measure(const cv::Mat& frame, int threshold, const FrameTime& time,
                           FrameRows* rows) {
    // A video of another size than the last one starts again from black rather than failing.
    if (referenceImage.empty() || referenceImage.size() != frame.size()) {
        allocateImages(frame);
    }
    againstBlack = std::exchange(freshBlack, false);
    changedPixels = static_cast<int>(
        counter.count(frame, referenceImage, threshold, watched.forFrames(frame.size()), rows)
            .busiest());
    lastSeconds = time.seconds;
    lastThreshold = threshold;
    return changedPixels;
}

std::string FrameDetector::takeSnapshot(cv::Mat& frame, const VideoJob& job,
                                        const FrameTime& time) {
    std::swap(referenceImage, frame);
    referenceImage.copyTo(frame);
    drawStatus(frame, lastStatusLine(), kFrameTextColour);
    snapshotName = namer.next(time.snapshotMs);
    snapshotPath = joinPath(job.getOutputDir(), snapshotName);
    return snapshotPath;
}

void FrameDetector::recordSnapshot(const std::string& path, const WriteResult& result,
                                   RunLog& log) {
    if (result.saved) {
        ++snapshots.written;
        log.write(LogKind::SnapshotSaved, formatText("[%s]\n", path.c_str()));
    } else {
        ++snapshots.lost;
        log.write(LogKind::Failure,
                  formatText("Failed to save %s: %s\n", path.c_str(), result.reason.c_str()));
    }
}

const cv::Mat& FrameDetector::drawMask(const cv::Mat& frame, int threshold) {
    changeMask(frame, threshold);
    drawStatus(diffImage, lastStatusLine(), kMaskTextColour);
    return diffImage;
}

const cv::Mat& FrameDetector::changeMask(const cv::Mat& frame, int threshold) {
    cv::absdiff(frame, referenceImage, diffImage);
    cv::threshold(diffImage, diffImage, threshold, 255.0, cv::THRESH_BINARY);
    cv::erode(diffImage, diffImage, cv::Mat());
    if (!watched.wholeFrame()) {
        cv::bitwise_and(diffImage, watched.forFrames(frame.size()), diffImage);
    }
    return diffImage;
}

FrameOutcome FrameDetector::processFrame(cv::Mat& frame, int threshold, const FrameTime& time,
                                         const VideoJob& job, RunLog& log) {
    measure(frame, threshold, time);
    if (!triggers(changedPixels)) {
        return FrameOutcome::NoMotion;
    }
    const std::string path = takeSnapshot(frame, job, time);
    const WriteResult result = writer.write(path, frame);
    // The reference has moved either way, so that one lost write does not turn every later
    // frame into a snapshot against a stale reference.
    recordSnapshot(path, result, log);
    return result.saved ? FrameOutcome::SnapshotSaved : FrameOutcome::SnapshotLost;
}

}  // namespace pelmora
