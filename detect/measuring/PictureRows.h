#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "ChangeCounter.h"
#include "PictureConverter.h"
#include "VideoSource.h"

struct AVFrame;

namespace pelmora {

// The colour rows of a decoded picture, made only where the count reads them, and only around
// pixels that may survive the erosion. A pixel survives only where every pixel of its 3 x 3
// neighbourhood changed by more than the threshold in one channel; whether a pixel can have
// changed that much is known from how far its Y, U and V are from those of the picture the
// reference was made from (see ChangeBound.h). So a row whose every pixel has, somewhere in its
// neighbourhood, a pixel that cannot have changed enough holds no survivor, and neither it nor
// its neighbours need be converted for it. In a still scene with noise, a pixel here and there
// may change enough, but nine together hardly ever do. A row that is read is converted exactly
// as the whole picture would be, and counted as before, so the counts are those of the whole
// chain.
class PictureRows : public FrameRows {
public:
    // picture and reference of the same size and format, which converter.convertsRows
    // accepts; image laid out for picture by converter.fitImage; threshold from 0 to 254.
    // madePairs, when given, tells which pairs of the image's rows are made, and is shared by
    // every PictureRows of that image, so that comparing it with several references makes
    // each row once: (image.rows + 1) / 2 flags, all false for a picture not yet made.
    PictureRows(PictureConverter& converter, const Picture& picture, const AVFrame& reference,
                cv::Mat& image, int threshold, std::vector<bool>* madePairs = nullptr);

    bool maySurvive(int y) override;
    void make(int y) override;

    // How many of the image's rows have been made.
    int rowsMade() const { return made; }

private:
    // Row y's marks: 0xFF for each pixel that may have changed by more than the threshold and
    // whose left and right neighbours may have too (a neighbour outside the image always may),
    // else 0; whether any pixel is so marked. Rows outside the image are marked throughout.
    struct Marks {
        int row = -1;
        bool any = false;
        const std::uint8_t* bytes = nullptr;
    };
    const Marks& marksOf(int y);
    // Whether each pixel of row y may have changed by more than the threshold, into changed,
    // which has a byte before the row and room after it.
    void markChanges(int y, std::uint8_t* changed) const;

    // Differences in Y and in U and V that no pixel can change by more than the threshold
    // within; unusable where the threshold is too low for any.
    struct CoarseSteps {
        bool usable = false;
        std::uint8_t luma = 0;
        std::uint8_t colour = 0;
    };
    CoarseSteps coarseSteps() const;
    // The most a colour byte can move, in 64ths, for these differences of U and V, Y apart.
    int colourBound(int du, int dv) const;

    PictureConverter& converter;
    const Picture& picture;
    const AVFrame& reference;
    cv::Mat& image;
    bool halfHeightColour;
    // The bound, in 64ths: see ChangeBound.h.
    std::uint16_t luma, blueU, greenU, greenV, redV, blueSpread, greenSpread, redSpread;
    std::uint16_t limit;
    CoarseSteps coarse;
    // A band of three rows asks for the five rows around it; the band before it had two.
    static constexpr int kCachedRows = 8;
    std::array<Marks, kCachedRows> cached;
    std::size_t stride;
    std::vector<std::uint8_t> marks;
    std::vector<std::uint8_t> changes;
    Marks outside;
    std::vector<bool> ownPairs;
    std::vector<bool>& pairMade;
    int made = 0;
};

}  // namespace pelmora
