#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "ChangeCounter.h"
#include "PictureConverter.h"
#include "VideoSource.h"

struct AVFrame;

namespace pelmora {

// The colour rows of a decoded picture, made only where the count reads them, and only where
// the picture and the picture the reference was made from differ enough in Y, U and V for a
// colour byte to change by more than the threshold. In a still scene that rules out nearly
// every row before any of it is converted; a row that may change is converted exactly as the
// whole picture would be, and counted as before, so the counts are those of the whole chain.
class PictureRows : public FrameRows {
public:
    // picture and reference of the same size and format, which converter.convertsRows
    // accepts; image laid out for picture by converter.fitImage; threshold from 0 to 254.
    PictureRows(PictureConverter& converter, const Picture& picture, const AVFrame& reference,
                cv::Mat& image, int threshold);

    bool mayChange(int y) override;
    void make(int y) override;

    // How many of the image's rows have been made.
    int rowsMade() const { return made; }

private:
    PictureConverter& converter;
    const Picture& picture;
    const AVFrame& reference;
    cv::Mat& image;
    bool halfHeightColour;
    // The bound, in 64ths: see ChangeBound.h.
    std::uint16_t luma, blueU, greenU, greenV, redV, blueSpread, greenSpread, redSpread;
    std::uint16_t limit;
    std::vector<bool> pairMade;
    int made = 0;
};

}  // namespace pelmora
