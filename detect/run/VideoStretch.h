#pragma once

#include <optional>
#include <string>

#include "FrameIndex.h"
#include "VideoSource.h"

namespace pelmora {

// Consecutive frames of a video by index, counted from its first frame as a run from the start
// counts them.
struct VideoStretch {
    long long first = 0;
    long long last = -1;  // the last frame read; -1 reads to the end of the video
    // Every frame's index is checked against its presentation time, and a run that cannot tell
    // them exactly stops there: a snapshot's name must never be a guess.
    bool exact = false;
};

// A stretch as a user gives it, by the times its snapshots would be named at: from the first
// frame at or after fromMs to the last at or before toMs; either end open when not given.
struct StretchTimes {
    std::optional<long long> fromMs;
    std::optional<long long> toMs;
    bool given() const { return fromMs.has_value() || toMs.has_value(); }
};

// The frames that times stand for in a video of frames frames at fps, a frame's time being the
// one that names its snapshot, into stretch; or why they stand for none (no usable rate, no
// length known, a time past the video's end, no frame between them). The stretch is exact when
// it starts past the first frame, since it is then found by seeking.
std::string stretchAtTimes(const StretchTimes& times, double fps, long long frames,
                           VideoStretch& stretch);

// Why a stretch by the frames' own names, on the stream's clock, stood for no frames once the
// video has been read: framesRead of them, and the video's end at endMs (-1 when reading
// stopped past the stretch, before the end); empty when it held frames and lay within the video.
std::string namedStretchRefusal(const StretchTimes& times, long long framesRead, long long endMs);

// Stretch index (0 <= index < count) of count stretches of equal frame count, as near as whole
// frames allow, of a video of frames frames: the last reads on to the end, wherever that is.
VideoStretch stretchOf(int index, int count, long long frames);

}  // namespace pelmora
