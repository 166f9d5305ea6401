#pragma once

#include <string>
#include <vector>

#include "Timeline.h"

namespace pelmora {

// The marks along the axes of a run's activity chart, so that the report's chart and the
// window's timeline read alike.

// The power of ten the pixel axis ends at: at least 10, and above the trigger.
long long pixelScaleTop(const std::vector<TimelineBucket>& buckets, int minPixels);
// The same for a chart scaled by scalePixels, the most changed pixels of the frames it
// counts, rather than by every bucket.
long long pixelScaleTop(long long scalePixels, int minPixels);

// "100", "10k", "1M": a mark of the pixel axis, which falls on a power of ten.
std::string pixelMarkLabel(long long pixels);

// A round step between time marks, for about ten of them or fewer up to endMs.
long long timeMarkStep(long long endMs);

// A time mark on a whole step: plain seconds below a minute, as a clock shows it above.
std::string timeMarkLabel(long long ms, long long endMs);

}  // namespace pelmora
