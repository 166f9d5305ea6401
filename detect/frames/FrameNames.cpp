#include "FrameNames.h"

#include <algorithm>
#include <cmath>

#include "FrameClock.h"

namespace pelmora {

namespace {

long long rateName(long long frames, double fps) {
    return FrameTime::fromRate(frames, fps).snapshotMs;
}

// The fewest frames at fps whose rate name reaches ms: the rate's estimate, set right by the
// names themselves, so that a time exactly on a frame is that frame whatever the rounding.
long long framesToReach(long long ms, double fps) {
    long long frames = std::max(0LL, static_cast<long long>(std::ceil(ms * fps / 1000.0)));
    while (frames > 0 && rateName(frames - 1, fps) >= ms) {
        --frames;
    }
    while (rateName(frames, fps) < ms) {
        ++frames;
    }
    return frames;
}

}  // namespace

FrameNames::FrameNames(double fps) : fps(fps), anchors{{0, 0}} {}

void FrameNames::add(long long frame, long long ms) {
    if (frame == 0 && anchors.size() == 1) {
        anchors.front().ms = ms;
        return;
    }
    if (msOf(frame) != ms) {
        anchors.push_back({frame, ms});
    }
}

const FrameNames::Anchor& FrameNames::anchorOf(long long frame) const {
    const auto after =
        std::upper_bound(anchors.begin(), anchors.end(), frame,
                         [](long long f, const Anchor& anchor) { return f < anchor.frame; });
    return after == anchors.begin() ? anchors.front() : *std::prev(after);
}

long long FrameNames::msOf(long long frame) const {
    const Anchor& anchor = anchorOf(frame);
    return anchor.ms + rateName(frame - anchor.frame, fps);
}

long long FrameNames::firstFrom(long long ms) const {
    // The first stretch named ms or later starts at a frame past ms; the frame sought is that
    // one, or lies in the stretch before it.
    const auto from =
        std::lower_bound(anchors.begin(), anchors.end(), ms,
                         [](const Anchor& anchor, long long t) { return anchor.ms < t; });
    if (from == anchors.begin()) {
        return 0;
    }
    const Anchor& before = *std::prev(from);
    const long long found = before.frame + framesToReach(ms - before.ms, fps);
    return from != anchors.end() ? std::min(found, from->frame) : found;
}

long long FrameNames::lastTo(long long ms) const {
    return firstFrom(ms + 1) - 1;
}

}  // namespace pelmora
