#pragma once

#include <string>
#include <vector>

#include "EventGrouper.h"
#include "Timeline.h"

namespace pelmora {

// The activity of a run at a glance, as an inline SVG element: the changed pixels of every
// bucket of the timeline as a band from its least to its most (a polygon of two points per
// bucket) with a line along the most, the trigger level as a dashed line, and each event as a
// shaded band. Time runs left to right from 0 to the last frame; the pixel scale is
// logarithmic, so that the trigger level of a few pixels and changes of thousands both show.
// It reaches the power of ten above scalePixels and the trigger; a bucket above that (the
// start of a video, compared with black) is drawn at the top.
std::string timelineChart(const std::vector<TimelineBucket>& buckets,
                          const std::vector<MotionEvent>& events, int minPixels,
                          long long scalePixels);

}  // namespace pelmora
