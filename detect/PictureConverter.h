#pragma once

#include <opencv2/core.hpp>

#include "VideoSource.h"

struct SwsContext;

namespace pelmora {

// Turns decoded pictures into 8-bit blue-green-red images with exactly the bytes the imaging
// library's video capture gives: one scaler made over the decoder's coded size for the first
// picture and kept, the same call and options, and the stream's visible size kept. A video
// whose pictures change size or pixel format gets a scaler for the new ones.
class PictureConverter {
public:
    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The visible size of the pictures to come, as the stream gives it, and the rotation to
    // apply to them.
    void setStream(cv::Size visible, int rotationDegrees);

    // Whether this picture has another size or pixel format than the pictures before it.
    bool changesFormat(const Picture& picture) const;

    // The whole picture into image, which is reallocated only when its layout does not fit.
    // False when no scaler can be made for the picture's format.
    bool convert(const Picture& picture, cv::Mat& image);

    // The size of the images that convert gives for this picture.
    cv::Size imageSize(const Picture& picture) const;

private:
    bool prepare(const Picture& picture);
    // A buffer laid out as the scaler's own output would be, so that it writes the same bytes.
    void fitBuffer(cv::Mat& image, cv::Size size) const;

    SwsContext* scaler = nullptr;
    int scalerWidth = 0;
    int scalerHeight = 0;
    int pixelFormat = -1;
    int pictureWidth = 0;
    int pictureHeight = 0;
    cv::Size visible;
    int rotation = 0;
    bool sizeChanged = false;
    cv::Mat rotated;
};

}  // namespace pelmora
