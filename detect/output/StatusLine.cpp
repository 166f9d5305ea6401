#include "StatusLine.h"

#include <opencv2/imgproc.hpp>

#include "TextFormat.h"

namespace pelmora {

namespace {

const cv::Point kStatusOrigin(20, 20);
const cv::Scalar kMaskTextColour(255, 255, 0, 0);      // cyan, in blue-green-red order
const cv::Scalar kSnapshotTextColour(0, 255, 255, 0);  // yellow

void drawStatus(cv::Mat& image, const std::string& text, const cv::Scalar& colour) {
    cv::putText(image, text, kStatusOrigin, cv::FONT_HERSHEY_PLAIN, 1.0, colour, 1, cv::LINE_8);
}

}  // namespace

std::string statusLine(double seconds, int changedPixels, int threshold) {
    return formatText("%09.3f %5d %3d", seconds, changedPixels, threshold);
}

void drawSnapshotStatus(cv::Mat& snapshot, const std::string& line) {
    drawStatus(snapshot, line, kSnapshotTextColour);
}

void drawMaskStatus(cv::Mat& mask, const std::string& line) {
    drawStatus(mask, line, kMaskTextColour);
}

}  // namespace pelmora
