#include "FrameSeeker.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "FrameIndex.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// How far ahead of the shown frame a time may lie for the seeker to decode on rather than
// seek: the keyframe before it may lie as far back as the shown frame anyway, and decoding a
// few seconds of frames costs less than finding out.
constexpr double kReadOnMs = 2000.0;

// Frames pictureAt decodes on through rather than seek: a seek costs a keyframe and what lies
// between it and the frame, a second's frames at most.
constexpr double kReadOnSeconds = 1.0;

double timeOf(const Picture& picture) {
    return picture.hasPresentationTime ? picture.presentationMs : picture.positionMs;
}

}  // namespace

std::string FrameSeeker::open(const std::string& path) {
    videoPath = path;
    hasShown = false;
    hasAhead = false;
    ended = false;
    nextIndex = 0;
    indexEnded = false;
    const std::string reason = source.open(path);
    if (!reason.empty()) {
        return reason;
    }
    converter.setStream({source.width(), source.height()}, source.rotation());
    seeksByIndex = whyNotSplittable(source, 1).empty();
    readOnFrames = std::max(1LL, std::llround(source.fps() * kReadOnSeconds));
    return std::string();
}

bool FrameSeeker::reopen() {
    hasAhead = false;
    ended = false;
    if (!source.open(videoPath).empty()) {
        return false;
    }
    converter.setStream({source.width(), source.height()}, source.rotation());
    return true;
}

bool FrameSeeker::nextPicture(Picture& picture) {
    if (hasAhead) {
        picture = std::move(ahead);
        hasAhead = false;
        return true;
    }
    if (ended || !source.next(picture)) {
        ended = true;
        return false;
    }
    return true;
}

void FrameSeeker::readOn(double ms) {
    Picture picture;
    while (nextPicture(picture)) {
        const double time = timeOf(picture);
        if (time > ms) {
            ahead = std::move(picture);
            hasAhead = true;
            return;
        }
        std::swap(shown, picture);
        shownTime = time;
    }
}

bool FrameSeeker::seekTo(double ms) {
    hasShown = false;
    hasAhead = false;
    ended = false;
    // A container that cannot seek, or whose index lands after the time, is read from the
    // start: the first picture after reopening is the video's first.
    bool fromStart = false;
    if (!source.seek(ms)) {
        if (!reopen()) {
            return false;
        }
        fromStart = true;
    }
    for (;;) {
        if (!nextPicture(shown)) {
            return false;
        }
        shownTime = timeOf(shown);
        if (shownTime <= ms || fromStart) {
            break;
        }
        if (!reopen()) {
            return false;
        }
        fromStart = true;
    }
    hasShown = true;
    readOn(ms);
    return true;
}

bool FrameSeeker::frameAt(double ms, cv::Mat& image) {
    if (!source.isOpen()) {
        return false;
    }
    nextIndex = -1;
    const bool shownStillHolds =
        hasShown && ms >= shownTime && ((hasAhead && ms < timeOf(ahead)) || ended);
    if (!shownStillHolds) {
        if (hasShown && ms >= shownTime && ms - shownTime <= kReadOnMs) {
            readOn(ms);
        } else if (!seekTo(ms)) {
            hasShown = false;
            return false;
        }
    }
    return converter.convert(shown, image);
}

long long FrameSeeker::pictureAt(long long index, long long keyframeFrom, Picture& picture,
                                 std::string& error) {
    // The pictures frameAt holds are the source's no longer.
    hasShown = false;
    hasAhead = false;
    ended = false;
    const bool behind = nextIndex < 0 || index < nextIndex;
    if (seeksByIndex && (behind || index - nextIndex > readOnFrames)) {
        const long long landed = seekNear(index, keyframeFrom, picture);
        if (landed >= 0) {
            return landed;
        }
    }
    if ((nextIndex < 0 || index < nextIndex) && !(error = readFromStart()).empty()) {
        return -1;
    }
    while (nextIndex <= index) {
        if (!source.next(picture)) {
            indexEnded = true;
            error = formatText("the video ends before frame %lld", index);
            return -1;
        }
        ++nextIndex;
    }
    return index;
}

long long FrameSeeker::seekNear(long long index, long long keyframeFrom, Picture& picture) {
    const double fps = source.fps();
    if (keyframeFrom > 0 && source.seek(static_cast<double>(index) * 1000.0 / fps) &&
        source.next(picture) && picture.hasPresentationTime) {
        const auto at = frameIndexAt(picture.presentationMs, fps);
        if (at && *at <= index && *at >= 0) {
            nextIndex = *at + 1;
            if (index - *at >= keyframeFrom || *at == index) {
                return *at;
            }
            return -1;  // decoded on from the keyframe
        }
    }
    if (seekToFrame(source, index).empty()) {
        nextIndex = index;
        return -1;
    }
    seeksByIndex = false;
    readFromStart();
    return -1;
}

std::string FrameSeeker::readFromStart() {
    nextIndex = 0;
    const std::string error = source.open(videoPath);
    if (!error.empty()) {
        return "it cannot be read again: " + error;
    }
    converter.setStream({source.width(), source.height()}, source.rotation());
    return std::string();
}

}  // namespace pelmora
