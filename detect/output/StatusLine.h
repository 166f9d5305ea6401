#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace pelmora {

// The line drawn on every snapshot and, in a detailed run, on the change mask: time in
// seconds, changed pixels, threshold.
std::string statusLine(double seconds, int changedPixels, int threshold);

// Draws the line at the top left of a snapshot (yellow) or of a mask (cyan).
void drawSnapshotStatus(cv::Mat& snapshot, const std::string& line);
void drawMaskStatus(cv::Mat& mask, const std::string& line);

}  // namespace pelmora
