#pragma once

#include <vector>

#include "ClipWriter.h"
#include "EventGrouper.h"

namespace pelmora {

// The stretches of a run's events, from beforeMs before each one's first snapshot (never
// before 0) to afterMs after its last; events whose stretches overlap or touch share one.
std::vector<ClipStretch> planClipStretches(const std::vector<MotionEvent>& events,
                                           long long beforeMs, long long afterMs);

}  // namespace pelmora
