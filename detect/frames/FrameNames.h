#pragma once

#include <vector>

namespace pelmora {

// The names of a run's frames, the whole milliseconds of their snapshots' names, as the run
// gave them: by the rate, or on the stream's clock by each frame's presentation time. Frames
// whose names follow the rate cost nothing; each that does not (after a gap in a variable-rate
// stream, say) starts a stretch of its own. So every later step (a digest's corner, the frames
// an event is padded by) names and finds frames exactly as the run did, whatever its clock.
class FrameNames {
public:
    // Every frame named by the rate, as on the index clock; fps must be usable.
    explicit FrameNames(double fps);

    // Frame frame is named ms; frames are told in increasing order, names never decreasing.
    void add(long long frame, long long ms);

    // The name of frame (beyond the frames told, as the rate goes on from the last of them).
    long long msOf(long long frame) const;
    // The first frame whose name is at or after ms; 0 for a time before every frame.
    long long firstFrom(long long ms) const;
    // The last frame whose name is at or before ms; -1 for a time before every frame.
    long long lastTo(long long ms) const;

private:
    struct Anchor {
        long long frame = 0;
        long long ms = 0;
    };
    // The stretch that frame lies in: the last anchor at or before it, the first where none is.
    const Anchor& anchorOf(long long frame) const;

    double fps;
    // Each starts a stretch named anchor.ms + the rate's name of (frame - anchor.frame); never
    // empty.
    std::vector<Anchor> anchors;
};

}  // namespace pelmora
