#include "ClipPlan.h"

#include "PaddedSpans.h"

namespace pelmora {

std::vector<ClipStretch> planClipStretches(const std::vector<MotionEvent>& events,
                                           long long beforeMs, long long afterMs) {
    std::vector<Span> spans;
    spans.reserve(events.size());
    for (const MotionEvent& event : events) {
        spans.push_back({event.startMs, event.endMs});
    }
    // A clip may run past the video's end: the cutter stops where the packets do.
    std::vector<ClipStretch> stretches;
    for (const PaddedSpan& padded :
         padSpans(spans, {beforeMs, afterMs, -1, 0}, MillisecondClock())) {
        ClipStretch& stretch = stretches.emplace_back();
        stretch.startMs = padded.first;
        stretch.endMs = padded.last;
        for (std::size_t i = padded.from; i < padded.to; ++i) {
            stretch.events.push_back(events[i].number);
        }
    }
    return stretches;
}

}  // namespace pelmora
