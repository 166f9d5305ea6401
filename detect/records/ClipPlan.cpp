#include "ClipPlan.h"

#include <algorithm>

namespace pelmora {

std::vector<ClipStretch> planClipStretches(const std::vector<MotionEvent>& events,
                                           long long beforeMs, long long afterMs) {
    std::vector<ClipStretch> stretches;
    for (const MotionEvent& event : events) {
        const long long start = event.startMs > beforeMs ? event.startMs - beforeMs : 0;
        const long long end = event.endMs + afterMs;
        if (!stretches.empty() && start <= stretches.back().endMs) {
            stretches.back().events.push_back(event.number);
            stretches.back().endMs = std::max(stretches.back().endMs, end);
            continue;
        }
        stretches.push_back({{event.number}, start, end});
    }
    return stretches;
}

}  // namespace pelmora
