#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace pelmora {

// Whether the bytes start as a JPEG file does.
bool looksLikeJpeg(const std::string& path);

// Reads a JPEG file as grey with libjpeg and its defaults, as the imaging library's reader
// does: FFmpeg's own JPEG decoder rounds differently, and a mask drawn with soft edges would
// watch other pixels. False, with libjpeg's reason, when the file is not a JPEG it can read.
bool readJpegGrey(const std::string& path, cv::Mat& grey, std::string& error);

}  // namespace pelmora
