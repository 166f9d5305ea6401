#include "ComparedImage.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <stdexcept>

namespace pelmora {

bool sharesLayout(const AVFrame* before, const AVFrame& now) {
    return before != nullptr && before->format == now.format && before->width == now.width &&
           before->height == now.height;
}

bool readyForComparing(PictureConverter& converter, const Picture& picture, bool rowsAllowed,
                       cv::Mat& image) {
    // The rows are checked last: the first check of a scaler converts a whole picture.
    if (rowsAllowed && converter.convertsRows(picture)) {
        converter.fitImage(picture, image);
        return true;
    }
    if (!converter.convert(picture, image)) {
        throw std::runtime_error(PictureConverter::refusal(picture));
    }
    return false;
}

}  // namespace pelmora
