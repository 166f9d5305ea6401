#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace pelmora {

// Whether the bytes start as a JPEG file does.
bool looksLikeJpeg(const std::string& path);

// Reads a JPEG file as grey with libjpeg and its defaults, as the imaging library's reader
// does: FFmpeg's own JPEG decoder rounds differently, and a mask drawn with soft edges would
// watch other pixels. libjpeg's reason when the file is not a JPEG it can read, empty when it
// read it.
std::string readJpegGrey(const std::string& path, cv::Mat& grey);

// Reads a JPEG file in colour, blue, green and red as the frames are, shrunk while it is
// decoded by the largest of libjpeg's factors 1/2, 1/4 and 1/8 that leaves it at least
// minWidth wide (none for a picture narrower than that): a thumbnail of a large snapshot then
// costs a fraction of decoding it whole. whole, when given, gets the picture's own size.
// Why it could not be read, as readJpegGrey.
std::string readJpegColour(const std::string& path, int minWidth, cv::Mat& image,
                           cv::Size* whole = nullptr);

}  // namespace pelmora
