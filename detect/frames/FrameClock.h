#pragma once

namespace pelmora {

// A frame rate that times frames: finite and above 0. Containers report 0, negative and
// non-finite rates for streams they cannot time.
bool usableFrameRate(double fps);

// When a frame occurs: the seconds printed in its status line and the whole milliseconds
// that name its snapshot.
struct FrameTime {
    double seconds = 0.0;
    long long snapshotMs = 0;

    // The usual timing: index / fps for the status line, floor(1000 * index / fps + 0.5) for
    // the name, with the thousandfold index in 64 bits so that long videos keep their names.
    static FrameTime fromRate(long long frameIndex, double fps);
};

// Times the frames of one run. A stream that reports a usable frame rate is timed from it;
// one that reports 0, a negative or a non-finite rate would give "inf" and "nan" names, so it
// is timed from the stream's own timestamps instead, and at a nominal 25 frames per second
// wherever those do not advance. Either way the names stay finite, distinct and increasing.
class FrameClock {
public:
    static constexpr double kFallbackFps = 25.0;

    explicit FrameClock(double fps);

    bool rateUsable() const { return rateUsable_; }

    // streamMs is the stream's position after reading the frame; it is only consulted when
    // the rate is unusable.
    FrameTime timeOf(long long frameIndex, double streamMs);

private:
    double fps_;
    bool rateUsable_;
    double lastMs_ = 0.0;
    bool started_ = false;
};

}  // namespace pelmora
