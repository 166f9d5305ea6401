#pragma once

#include <algorithm>
#include <opencv2/core.hpp>
#include <vector>

namespace pelmora {

// Changed pixels per colour channel, in blue-green-red order.
struct ChannelCounts {
    long long channel[3] = {0, 0, 0};

    long long busiest() const;
};

// How many pixels of each channel changed by more than each of a range of thresholds, after the
// erosion: what count gives for every threshold of the range, from one pass. A pixel survives a
// threshold exactly where the smallest change in its 3 x 3 neighbourhood exceeds it, so one
// histogram of those smallest changes answers for every threshold at once.
class ChangeHistogram {
public:
    // For thresholds from lowest to lowest + span; every bin empty.
    void reset(int lowest, int span);
    // Adds pixels of channel (0 blue, 1 green, 2 red) whose smallest change is lowest + excess
    // (excess > 0); an excess past the span counts for every threshold of the range.
    void add(int channel, int excess, long long pixels = 1) {
        bins[static_cast<std::size_t>(channel)][static_cast<std::size_t>(std::min(excess, top))] +=
            pixels;
    }
    // The changed pixels of the busiest channel at threshold, from lowest to lowest + span.
    long long busiestAt(int threshold) const;
    ChannelCounts countsAt(int threshold) const;

    int lowest() const { return base; }
    int span() const { return top - 1; }
    // Bins 1 to span + 1 of a channel, for the counter to fill.
    long long* binsOf(int channel) { return bins[static_cast<std::size_t>(channel)].data(); }

private:
    int base = 0;
    int top = 1;
    std::vector<long long> bins[3];
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

    // Into histogram, which reset chose the thresholds of (lowest from 0 to 254): the counts of
    // count for each of those thresholds, from one pass that reads only what a count at the
    // lowest of them reads. Same images, watched region and rows as count.
    void histogram(const cv::Mat& frame, const cv::Mat& reference, ChangeHistogram& histogram,
                   const cv::Mat& watched = cv::Mat(), FrameRows* rows = nullptr);

private:
    // Calls visit(rowsAround, changedAround, y) for every row of frame that may hold a pixel
    // whose neighbourhood all changed by more than threshold (0 to 254), with the excess of
    // the change over threshold of the three rows around it and which blocks of them hold any.
    template <typename Visit>
    void forRowsThatMaySurvive(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                               FrameRows* rows, Visit&& visit);

    std::vector<uchar> scratch;
};

}  // namespace pelmora
