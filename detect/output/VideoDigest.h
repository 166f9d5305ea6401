#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FrameNames.h"
#include "VideoStart.h"

namespace pelmora {

// A run of the video's frames as the digest shows it: every frame of an event's stretch, or one
// frame in step of the quiet between stretches. Frames are counted from the video's first, as
// a run counts them.
struct DigestPiece {
    long long first = 0;
    long long last = 0;
    long long step = 1;       // 1: every frame, at its real speed
    std::vector<int> events;  // the events an event's stretch shows; none in the quiet

    bool quiet() const { return events.empty(); }
};

struct DigestRequest {
    std::string videoPath;
    std::string path;  // the digest's file
    std::vector<DigestPiece> pieces;
    VideoStart start;  // the clock time each frame carries, where known
    // Each frame's time in the video, as the run named it; none: by the video's rate.
    std::optional<FrameNames> names;
    // Asked once a frame; true abandons the digest.
    std::function<bool()> stopRequested;
};

struct DigestOutcome {
    bool saved = false;
    std::string error;     // why it was not saved
    bool stopped = false;  // a stop abandoned it
    long long frames = 0;  // the digest's frames
};

// Writes the digest of a video (see DigestWriter) at the video's own rate, each frame with its
// time in the video, its clock time where the start is known, and in the quiet the speed.
// It decodes only what it shows: an event's stretch from the keyframe before it, and in the
// quiet each frame it takes from the keyframe before that one; where that keyframe lies a whole
// step or more before the frame, the keyframe itself stands for it. Where the video's frames
// cannot be told by index after a seek, it is read from the start instead.
DigestOutcome writeDigest(const DigestRequest& request);

// A stretch of one camera's video in a digest of several, in milliseconds of the video as its
// snapshots are named.
struct CameraStretch {
    std::string videoPath;
    std::string camera;
    VideoStart start;  // known: the stretch is put on the clock by it
    long long startMs = 0;
    long long endMs = 0;
};

struct DayDigestRequest {
    std::vector<CameraStretch> stretches;  // in the order they are shown: the clock's
    std::string path;
    std::function<bool()> stopRequested;
};

// The day's digest: each stretch at its real speed, fitted into kDigestWidth x kDigestHeight,
// with its camera and clock time in the corner, and before each one that does not follow on from
// the one before on the same camera, a card of half a second with its camera and clock time.
// It plays at the first video's rate; a video of another rate shows the frame of each moment.
DigestOutcome writeDayDigest(const DayDigestRequest& request);

}  // namespace pelmora
