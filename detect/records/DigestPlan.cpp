#include "DigestPlan.h"

#include <algorithm>
#include <cmath>

#include "PaddedSpans.h"

namespace pelmora {

std::vector<DigestPiece> planDigest(const std::vector<MotionEvent>& events, long long lastFrame,
                                    const FrameNames& names, long long beforeMs, long long afterMs,
                                    long long speed) {
    std::vector<Span> spans;
    for (const MotionEvent& event : events) {
        if (event.firstFrame > lastFrame) {
            break;
        }
        spans.push_back({event.firstFrame, event.lastFrame});
    }
    // Padded by the names the run gave its frames, which need not follow the rate.
    std::vector<DigestPiece> stretches;
    for (const PaddedSpan& padded : padSpans(spans, {beforeMs, afterMs, lastFrame, 1}, names)) {
        DigestPiece& stretch = stretches.emplace_back();
        stretch.first = padded.first;
        stretch.last = padded.last;
        for (std::size_t i = padded.from; i < padded.to; ++i) {
            stretch.events.push_back(events[i].number);
        }
    }
    if (stretches.empty()) {
        return stretches;
    }
    std::vector<DigestPiece> pieces;
    long long next = 0;  // the first frame no piece holds yet
    const auto quietUpTo = [&](long long end) {
        if (next < end) {
            pieces.push_back({next, end - 1, std::max(1LL, speed), {}});
        }
    };
    for (DigestPiece& stretch : stretches) {
        quietUpTo(stretch.first);
        next = stretch.last + 1;
        pieces.push_back(std::move(stretch));
    }
    quietUpTo(lastFrame + 1);
    return pieces;
}

std::vector<CameraStretch> planDayDigest(const OverviewContent& overview, long long beforeMs,
                                         long long afterMs) {
    std::vector<CameraStretch> stretches;
    for (const OverviewVideo& video : overview.videos) {
        if (!video.start.known()) {
            continue;
        }
        VideoStart start = video.start;
        start.zone = overview.zone;
        std::vector<Span> spans;
        spans.reserve(video.events.size());
        for (const OverviewEvent& event : video.events) {
            spans.push_back({event.startMs, event.endMs});
        }
        // A video's span is what the run read of it; where it read nothing, nothing cuts a
        // stretch short.
        const long long end = video.spanMs > 0 ? video.spanMs - 1 : -1;
        for (const PaddedSpan& padded :
             padSpans(spans, {beforeMs, afterMs, end, 0}, MillisecondClock())) {
            stretches.push_back({video.video, video.camera, start, padded.first, padded.last});
        }
    }
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const CameraStretch& a, const CameraStretch& b) {
                         return a.start.utcAt(a.startMs) < b.start.utcAt(b.startMs);
                     });
    return stretches;
}

}  // namespace pelmora
