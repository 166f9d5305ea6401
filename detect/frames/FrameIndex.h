#pragma once

#include <optional>
#include <string>

#include "VideoSource.h"

namespace pelmora {

// The frame index a presentation time stands for at a constant rate: the whole frame it lies
// within a quarter of a frame of; nothing when it lies further from one, as in a variable-rate
// stream.
std::optional<long long> frameIndexAt(double presentationMs, double fps);

// Why the frames of this video cannot be told by index after a seek, so that it cannot be
// split into count stretches exactly; nothing when they can. Only containers that index
// their packets and time them at the stream's rate (AVI, MP4 and its kin, Matroska) qualify,
// read from a file that can seek, at a usable rate of at most 1000 frames per second (above
// it two frames may share one millisecond's name), with at least count frames announced.
std::string whyNotSplittable(const VideoSource& source, int count);

// Moves the source so that its next picture is frame index, decoded from the keyframe before
// it as a run from the start would have decoded it; the pictures on the way are read and
// dropped. Returns why that frame cannot be found exactly (no seek, a picture without a
// presentation time or off the rate, a gap in the indices, the video ending before it), or
// nothing.
std::string seekToFrame(VideoSource& source, long long index);

}  // namespace pelmora
