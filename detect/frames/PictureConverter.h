#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>

#include "VideoSource.h"

struct SwsContext;

namespace pelmora {

// Turns decoded pictures into 8-bit blue-green-red images with exactly the bytes the imaging
// library's video capture gives: one scaler made over the decoder's coded size for the first
// picture and kept, the same call and options, and the stream's visible size kept. A video
// whose pictures change size or pixel format gets a scaler for the new ones.
//
// A decoder that meets a new size in mid-video says so before it has given out every picture of
// the old one, so a picture may come with a coded size that is not its own. The scaler is made
// only over a coded size the picture's planes hold, else over the picture's own size, and the
// scaler of a size stays with the pictures of that size whatever coded size they come with:
// nothing is read or written past a picture or an image.
class PictureConverter {
public:
    PictureConverter() = default;
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // The visible size of the pictures to come, as the stream gives it, and the rotation to
    // apply to them.
    void setStream(cv::Size visible, int rotationDegrees);

    // Whether this picture has another size or pixel format than the pictures before it.
    bool changesFormat(const Picture& picture) const;
    // The size and the pixel format (an AVPixelFormat) of the pictures before; 0 x 0 and -1
    // before the first.
    cv::Size pictureSize() const { return {pictureWidth, pictureHeight}; }
    int pictureFormat() const { return pixelFormat; }

    // The whole picture into image, which is reallocated only when its layout does not fit.
    // False when no scaler can be made for the picture's format (see refusal).
    bool convert(const Picture& picture, cv::Mat& image);

    // The size of the images that convert gives for this picture: the stream's size where it
    // cuts a few rows or columns off the picture, else the picture's own.
    cv::Size imageSize(const Picture& picture) const;

    // Whether the picture's rows can be made two at a time with exactly the bytes that convert
    // gives: 8-bit 4:2:0 and 4:2:2 pictures of even height, unrotated, which the scaler turns
    // into colour one pair of rows at a time. Checked once for every scaler, on its first such
    // picture, against a whole conversion.
    bool convertsRows(const Picture& picture);
    // Lays out image for the picture, converting nothing.
    void fitImage(const Picture& picture, cv::Mat& image);
    // Rows 2 pair and 2 pair + 1 of the picture into the image laid out by fitImage, which has
    // room below its last row for a pair that it cuts short.
    void convertRowPair(const Picture& picture, int pair, cv::Mat& image);

    // Why a picture that convert refused cannot be converted, in words for the user.
    static std::string refusal(const Picture& picture);

private:
    bool prepare(const Picture& picture);
    // A buffer laid out as the scaler's own output would be, so that it writes the same bytes.
    void fitBuffer(cv::Mat& image, cv::Size size) const;

    bool rowsEligible(const Picture& picture) const;
    bool rowsMatchWholeConversion(const Picture& picture);
    // Rows 2 pair and 2 pair + 1 of the picture to target, in rows of step bytes.
    void scalePair(const Picture& picture, int pair, uint8_t* target, int step);

    Scaler scaler;
    // Over two rows of the coded width, for convertRowPair.
    Scaler pairScaler;
    enum class RowCheck { NotYet, Passed, Failed } rowCheck = RowCheck::NotYet;

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
