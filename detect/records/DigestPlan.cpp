#include "DigestPlan.h"

#include <algorithm>
#include <cmath>

namespace pelmora {

std::vector<DigestPiece> planDigest(const std::vector<MotionEvent>& events, long long lastFrame,
                                    const FrameNames& names, long long beforeMs, long long afterMs,
                                    long long speed) {
    std::vector<DigestPiece> stretches;
    for (const MotionEvent& event : events) {
        if (event.firstFrame > lastFrame) {
            break;
        }
        const long long first =
            std::min(event.firstFrame, names.firstFrom(names.msOf(event.firstFrame) - beforeMs));
        const long long last = std::min(
            lastFrame,
            std::max(event.lastFrame, names.lastTo(names.msOf(event.lastFrame) + afterMs)));
        if (!stretches.empty() && first <= stretches.back().last + 1) {
            stretches.back().last = std::max(stretches.back().last, last);
            stretches.back().events.push_back(event.number);
            continue;
        }
        stretches.push_back({first, last, 1, {event.number}});
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
        const std::size_t first = stretches.size();
        for (const OverviewEvent& event : video.events) {
            const long long from = std::max(0LL, event.startMs - beforeMs);
            const long long to = video.spanMs > 0
                                     ? std::min(event.endMs + afterMs, video.spanMs - 1)
                                     : event.endMs + afterMs;
            if (stretches.size() > first && from <= stretches.back().endMs) {
                stretches.back().endMs = std::max(stretches.back().endMs, to);
                continue;
            }
            stretches.push_back({video.video, video.camera, start, from, to});
        }
    }
    std::stable_sort(stretches.begin(), stretches.end(),
                     [](const CameraStretch& a, const CameraStretch& b) {
                         return a.start.utcAt(a.startMs) < b.start.utcAt(b.startMs);
                     });
    return stretches;
}

}  // namespace pelmora
