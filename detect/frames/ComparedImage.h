#pragma once

#include <opencv2/core.hpp>

#include "PictureConverter.h"

struct AVFrame;

namespace pelmora {

// Whether a picture has the layout of the one a reference image was converted from, the same
// pixel format and size, so that the two can be compared row by row in that format. False
// where there is no such picture: the black a video starts from.
bool sharesLayout(const AVFrame* before, const AVFrame& now);

// Readies image for comparing the picture with a reference, the one rule for every detector
// that compares by rows. Where rowsAllowed (the reference allows it; see sharesLayout) and the
// converter gives the picture's rows the bytes of a whole conversion, the image is only laid
// out, its rows converted as the comparison reaches them, and the answer is true. Otherwise
// the picture is converted whole and the answer is false. A picture that cannot be converted
// throws why: skipping it would measure the video by the frames around it, and a video of such
// pictures only would pass for one without motion.
bool readyForComparing(PictureConverter& converter, const Picture& picture, bool rowsAllowed,
                       cv::Mat& image);

}  // namespace pelmora
