#pragma once

#include <cstddef>
#include <vector>

namespace pelmora {

// Consecutive frames of a timeline, by the fewest and most changed pixels among them.
struct TimelineBucket {
    long long frames = 0;
    long long startMs = 0;  // the time of its first frame
    long long endMs = 0;    // the time of its last frame
    int least = 0;
    int most = 0;
};

// The changed pixels of every frame of a run, in at most a fixed number of buckets however long
// the video: when they are all used, neighbours merge in pairs and each bucket from then on
// takes twice as many frames. No frame count is needed in advance, since a container's may be
// wrong or missing; a spike is never lost, since each bucket keeps its extremes.
class Timeline {
public:
    static constexpr std::size_t kMaxBuckets = 2000;

    explicit Timeline(std::size_t maxBuckets = kMaxBuckets);

    // The next frame, in order. A frame that is not scaled (one compared with the black a
    // video starts from, whose changed pixels are the whole picture rather than motion) is
    // drawn but sets no scale.
    void add(long long timeMs, int changedPixels, bool scaled = true);

    // The most changed pixels of a scaled frame: what a chart of the timeline is scaled by.
    int scalePixels() const { return scale; }

    // More than half the maximum once there were more frames than that, all of framesPerBucket
    // frames but the last.
    const std::vector<TimelineBucket>& buckets() const { return series; }
    long long framesPerBucket() const { return width; }

private:
    void mergePairs();

    std::size_t maxBuckets;
    long long width = 1;
    int scale = 0;
    std::vector<TimelineBucket> series;
};

}  // namespace pelmora
