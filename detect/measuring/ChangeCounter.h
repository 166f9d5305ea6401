#pragma once

#include <opencv2/core.hpp>
#include <vector>

namespace pelmora {

// Changed pixels per colour channel, in blue-green-red order.
struct ChannelCounts {
    long long channel[3] = {0, 0, 0};

    long long busiest() const;
};

// A frame whose rows are made only when the count reads them: rows that cannot hold a pixel
// that survives the erosion need never be made at all.
class FrameRows {
public:
    virtual ~FrameRows() = default;
    // False only where no pixel of row y can survive: somewhere in the 3 x 3 neighbourhood of
    // each of its pixels, no byte can differ from the reference's by more than the threshold.
    virtual bool maySurvive(int y) = 0;
    // Makes row y of the frame, before it is read.
    virtual void make(int y) = 0;
};

// Counts, per channel, the pixels that differ from the reference by more than the threshold
// and whose whole 3 x 3 neighbourhood inside the image does too: exactly what absdiff, a binary
// threshold, one 3 x 3 erosion (pixels outside the image never erode) and a sum would give,
// but in one pass over the two images at most, skipping rows that cannot hold a survivor, and
// without a full-size mask. A counter keeps a few rows of scratch space between calls, so that a
// run of one frame size allocates nothing per frame.
class ChangeCounter {
public:
    // Both images 8-bit, three channels and of the same size. watched, when not empty, is of the
    // same size and type with every byte 0 or 255: a changed byte counts only where its watched
    // byte is 255, as when the eroded mask is and-ed with it before the sum. With rows, only
    // the rows of frame that rows has made are read.
    ChannelCounts count(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                        const cv::Mat& watched = cv::Mat(), FrameRows* rows = nullptr);

private:
    std::vector<uchar> scratch;
};

}  // namespace pelmora
