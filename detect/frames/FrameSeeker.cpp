#include "FrameSeeker.h"

#include <utility>

namespace pelmora {

namespace {

// How far ahead of the shown frame a time may lie for the seeker to decode on rather than
// seek: the keyframe before it may lie as far back as the shown frame anyway, and decoding a
// few seconds of frames costs less than finding out.
constexpr double kReadOnMs = 2000.0;

double timeOf(const Picture& picture) {
    return picture.hasPresentationTime ? picture.presentationMs : picture.positionMs;
}

}  // namespace

bool FrameSeeker::open(const std::string& path, std::string& reason) {
    videoPath = path;
    hasShown = false;
    hasAhead = false;
    ended = false;
    if (!source.open(path, reason)) {
        return false;
    }
    converter.setStream({source.width(), source.height()}, source.rotation());
    return true;
}

bool FrameSeeker::reopen() {
    hasAhead = false;
    ended = false;
    std::string ignored;
    if (!source.open(videoPath, ignored)) {
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

}  // namespace pelmora
