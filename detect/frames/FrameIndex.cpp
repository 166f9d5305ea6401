#include "FrameIndex.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "FrameClock.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// Above this, two frames can round to one millisecond and names get "-2": a run's state that
// a stretch on its own could not know.
constexpr double kMostFramesPerSecond = 1000.0;
// How far before the frame the first seek aims, and how many times the aim goes further back
// when the container's index lands after the frame.
constexpr double kFirstSeekBackMs = 500.0;
constexpr int kSeekTries = 12;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::optional<long long> frameIndexAt(double presentationMs, double fps) {
    if (!usableFrameRate(fps) || !std::isfinite(presentationMs)) {
        return std::nullopt;
    }
    const double frames = presentationMs * fps / 1000.0;
    const double whole = std::floor(frames + 0.5);
    if (std::fabs(frames - whole) > 0.25 || whole < 0.0) {
        return std::nullopt;
    }
    return static_cast<long long>(whole);
}

std::string whyNotSplittable(const VideoSource& source, int count) {
    const std::string container = source.containerName();
    if (container != "avi" && !startsWith(container, "mov,mp4") &&
        !startsWith(container, "matroska")) {
        return "its container (" + container + ") gives no index of its frames to seek by";
    }
    if (!source.seekable()) {
        return "it is read from a stream that cannot seek";
    }
    const double fps = source.fps();
    if (!usableFrameRate(fps)) {
        return "it announces no usable frame rate";
    }
    if (fps > kMostFramesPerSecond) {
        return formatText("its rate of %g frames per second can give two frames one name", fps);
    }
    if (source.announcedFrames() < count) {
        return formatText("it announces %lld frames, fewer than the %d stretches",
                          source.announcedFrames(), count);
    }
    return std::string();
}

std::string seekToFrame(VideoSource& source, long long index) {
    const double fps = source.fps();
    if (index == 0) {
        return std::string();
    }
    const double frameMs = static_cast<double>(index) * 1000.0 / fps;
    double backMs = kFirstSeekBackMs;
    for (int attempt = 0; attempt < kSeekTries; ++attempt, backMs *= 4.0) {
        const double aim = std::max(frameMs - backMs, 0.0);
        if (!source.seek(aim)) {
            return "the container cannot seek to it";
        }
        Picture picture;
        std::optional<long long> at;
        long long before = -1;
        while (source.next(picture)) {
            if (!picture.hasPresentationTime) {
                return "a picture before it has no presentation time";
            }
            at = frameIndexAt(picture.presentationMs, fps);
            if (!at) {
                return formatText(
                    "a picture before it, at %.3f ms, lies off the rate of %g "
                    "frames per second",
                    picture.presentationMs, fps);
            }
            if (before >= 0 && *at != before + 1) {
                return formatText("the pictures before it jump from frame %lld to %lld", before,
                                  *at);
            }
            if (*at >= index) {
                break;
            }
            before = *at;
        }
        if (!at || *at < index) {
            return "the video ends before it";
        }
        if (*at == index) {
            source.putBack(std::move(picture), index);
            return std::string();
        }
        if (before >= 0) {
            return formatText("the video has no picture between frames %lld and %lld", before, *at);
        }
        if (aim <= 0.0) {
            return formatText("the first picture the container gives is frame %lld", *at);
        }
    }
    return "the container's index gives no keyframe before it";
}

}  // namespace pelmora
