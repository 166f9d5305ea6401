#pragma once

#include <opencv2/core.hpp>

#include "VideoSource.h"

struct SwsContext;

namespace pelmora {

// A decoded picture made small and grey, as it is shown (turned where the stream says so),
// for detectors that look at the shape of a scene rather than its colours. Where the picture
// holds its brightness as a plane of bytes of its own (the usual 8-bit YUV formats), that plane
// is shrunk directly and nothing else is converted; other formats go through FFmpeg's scaler.
class GreyPicture {
public:
    GreyPicture() = default;
    GreyPicture(const GreyPicture&) = delete;
    GreyPicture& operator=(const GreyPicture&) = delete;

    // The picture's visible part (visible, before it is turned), turned by rotation degrees,
    // into grey (8-bit) at size, which is as the picture is shown. False when the picture's
    // format has no conversion to grey.
    bool make(const Picture& picture, cv::Size visible, int rotation, cv::Size size, cv::Mat& grey);

private:
    Scaler scaler;
    cv::Mat unturned;
};

}  // namespace pelmora
