#include "VideoStretch.h"

#include <algorithm>
#include <utility>

#include "FrameClock.h"
#include "FrameNames.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

long long nameMs(long long frame, double fps) {
    return FrameTime::fromRate(frame, fps).snapshotMs;
}

std::string secondsText(long long ms) {
    return formatText("%lld.%03lld s", ms / 1000, ms % 1000);
}

}  // namespace

std::string stretchAtTimes(const StretchTimes& times, double fps, long long frames,
                           VideoStretch& stretch) {
    if (!usableFrameRate(fps)) {
        return "the video announces no usable frame rate to find the frames of its times by";
    }
    if (frames <= 0) {
        return "the video does not announce how many frames it holds";
    }
    // The last frame lasts until the next would have begun.
    const long long endMs = nameMs(frames, fps);
    VideoStretch found;
    if (times.fromMs) {
        found.first = FrameNames(fps).firstFrom(*times.fromMs);
        if (found.first >= frames) {
            return "the stretch starts at " + secondsText(*times.fromMs) +
                   ", past the video's last frame at " + secondsText(nameMs(frames - 1, fps));
        }
    }
    if (times.toMs) {
        if (*times.toMs > endMs) {
            return "the stretch ends at " + secondsText(*times.toMs) +
                   ", past the video's end at " + secondsText(endMs);
        }
        found.last = std::min(FrameNames(fps).lastTo(*times.toMs), frames - 1);
        if (found.last < found.first) {
            return "no frame lies between " + secondsText(times.fromMs.value_or(0)) + " and " +
                   secondsText(*times.toMs);
        }
    }
    found.exact = found.first > 0;
    stretch = found;
    return std::string();
}

std::string namedStretchRefusal(const StretchTimes& times, long long framesRead, long long endMs) {
    if (framesRead == 0) {
        return "no frame lies between " + secondsText(times.fromMs.value_or(0)) + " and " +
               (times.toMs ? secondsText(*times.toMs) : std::string("the video's end"));
    }
    if (times.toMs && endMs >= 0 && *times.toMs > endMs) {
        return "the stretch ends at " + secondsText(*times.toMs) + ", past the video's end at " +
               secondsText(endMs);
    }
    return std::string();
}

VideoStretch stretchOf(int index, int count, long long frames) {
    VideoStretch stretch;
    stretch.first = frames * index / count;
    stretch.last = index + 1 == count ? -1 : frames * (index + 1) / count - 1;
    stretch.exact = true;
    return stretch;
}

}  // namespace pelmora
