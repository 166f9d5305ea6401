#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "AvOwners.h"
#include "H264Encoder.h"
#include "OutputFile.h"

namespace pelmora {

// The largest picture a digest has: larger videos are scaled down to fit, keeping their shape.
inline constexpr int kDigestWidth = 1280;
inline constexpr int kDigestHeight = 720;

// The size a digest of pictures of size has: the same, or scaled down to fit within
// kDigestWidth x kDigestHeight, keeping the aspect, in whole pairs of pixels as H.264 takes them.
cv::Size digestSize(cv::Size size);

// Writes a digest: H.264 in MP4 at a constant rate, every picture given fitted into its size
// (scaled, and letterboxed where its shape differs), with lines of text in its top left corner.
// The file is written under a temporary name beside path and renamed to it once complete; a
// writer destroyed before then leaves nothing.
class DigestWriter {
public:
    DigestWriter() = default;
    DigestWriter(const DigestWriter&) = delete;
    DigestWriter& operator=(const DigestWriter&) = delete;

    // Returns why the file cannot be started, or nothing.
    std::string open(const std::string& path, cv::Size size, double fps);
    // One picture, in blue-green-red, shown for one frame of the rate.
    std::string add(const cv::Mat& picture, const std::vector<std::string>& corner);
    // A card of lines on black, in its middle, shown for frames frames.
    std::string addCard(const std::vector<std::string>& lines, long long frames);
    // Writes the rest and renames the file into place.
    std::string finish();

    long long framesWritten() const { return written; }

private:
    std::string encode(const cv::Mat& picture);

    OutputFile file;
    H264Encoder encoder;
    Frame frame;
    Scaler converter;
    cv::Size outSize;
    cv::Mat fitted;
    long long written = 0;
};

// Draws lines of text into the top left corner of picture, on a dark band, sized to the
// picture's height; the rest of the picture is left as it is.
void drawCornerText(cv::Mat& picture, const std::vector<std::string>& lines);

}  // namespace pelmora
