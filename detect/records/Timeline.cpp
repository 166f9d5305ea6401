#include "Timeline.h"

#include <algorithm>

namespace pelmora {

Timeline::Timeline(std::size_t maxBuckets) : maxBuckets(std::max<std::size_t>(maxBuckets, 2)) {
    series.reserve(this->maxBuckets);
}

void Timeline::add(long long timeMs, int changedPixels, bool scaled) {
    if (scaled) {
        scale = std::max(scale, changedPixels);
    }
    if (!series.empty() && series.back().frames == width && series.size() == maxBuckets) {
        mergePairs();
    }
    if (series.empty() || series.back().frames == width) {
        series.push_back({1, timeMs, timeMs, changedPixels, changedPixels});
        return;
    }
    TimelineBucket& bucket = series.back();
    ++bucket.frames;
    bucket.endMs = timeMs;
    bucket.least = std::min(bucket.least, changedPixels);
    bucket.most = std::max(bucket.most, changedPixels);
}

void Timeline::mergePairs() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < series.size(); i += 2) {
        TimelineBucket merged = series[i];
        if (i + 1 < series.size()) {
            const TimelineBucket& next = series[i + 1];
            merged.frames += next.frames;
            merged.endMs = next.endMs;
            merged.least = std::min(merged.least, next.least);
            merged.most = std::max(merged.most, next.most);
        }
        series[kept++] = merged;
    }
    series.resize(kept);
    width *= 2;
}

}  // namespace pelmora
