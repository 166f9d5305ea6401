#pragma once

#include <string>
#include <vector>

#include "Timeline.h"

namespace pelmora {

// The marks along the axes of a run's activity chart, so that the report's chart and the
// window's timeline read alike.

// The power of ten the pixel axis ends at: at least 10, above the trigger and above
// scalePixels, the most changed pixels of the frames the chart is scaled by (see
// Timeline::scalePixels); a bucket above it is drawn cut off at the top.
long long pixelScaleTop(long long scalePixels, int minPixels);

// "100", "10k", "1M": a mark of the pixel axis, which falls on a power of ten.
std::string pixelMarkLabel(long long pixels);

// A round step between time marks, for about ten of them or fewer up to endMs.
long long timeMarkStep(long long endMs);

// A time mark on a whole step: plain seconds below a minute, as a clock shows it above.
std::string timeMarkLabel(long long ms, long long endMs);

}  // namespace pelmora
