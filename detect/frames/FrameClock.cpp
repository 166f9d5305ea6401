#include "FrameClock.h"

#include <cmath>

namespace pelmora {

bool usableFrameRate(double fps) {
    return std::isfinite(fps) && fps > 0.0;
}

FrameTime FrameTime::fromRate(long long frameIndex, double fps) {
    const long long msCounter = frameIndex * 1000;
    FrameTime time;
    time.seconds = static_cast<double>(frameIndex) / fps;
    time.snapshotMs =
        static_cast<long long>(std::floor(static_cast<double>(msCounter) / fps + 0.5));
    return time;
}

FrameClock::FrameClock(double fps) : fps_(fps), rateUsable_(usableFrameRate(fps)) {}

FrameTime FrameClock::timeOf(long long frameIndex, double streamMs) {
    if (rateUsable_) {
        return FrameTime::fromRate(frameIndex, fps_);
    }
    // At least a whole millisecond per frame, so that two frames never round to one name.
    const double minimum = started_ ? lastMs_ + 1.0 : 0.0;
    double ms = streamMs;
    if (!std::isfinite(ms) || ms < minimum) {
        ms = started_ ? lastMs_ + 1000.0 / kFallbackFps : 0.0;
    }
    started_ = true;
    lastMs_ = ms;
    FrameTime time;
    time.seconds = ms / 1000.0;
    time.snapshotMs = static_cast<long long>(std::floor(ms + 0.5));
    return time;
}

}  // namespace pelmora
