#include "VideoDigest.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <opencv2/core.hpp>
#include <utility>

#include "DigestWriter.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameIndex.h"
#include "PictureConverter.h"
#include "TextFormat.h"
#include "VideoSource.h"

namespace pelmora {

namespace {

// Frames the reader decodes on through rather than seek: a seek costs a keyframe and what lies
// between it and the frame, a second's frames at most.
constexpr double kReadOnSeconds = 1.0;

// The video's frames by index, as a run from the start counts them, reached by seeking where
// that can be done exactly.
class IndexedReader {
public:
    bool open(const std::string& path, std::string& reason) {
        videoPath = path;
        if (!source.open(path, reason)) {
            return false;
        }
        fps = source.fps();
        ended = false;
        seeks = whyNotSplittable(source, 1).empty();
        readOnFrames = std::max(1LL, std::llround(fps * kReadOnSeconds));
        return true;
    }
    double rate() const { return fps; }
    // Whether the last read failed because the video had ended.
    bool atEnd() const { return ended; }
    const VideoSource& video() const { return source; }

    // The picture of frame index into picture, or where keyframeFrom > 0 and the keyframe before
    // index lies that many frames or more before it, the keyframe's. Returns the index of the
    // picture given; -1 with the reason when there is none.
    long long read(long long index, long long keyframeFrom, Picture& picture, std::string& error) {
        if (seeks && (index < next || index - next > readOnFrames)) {
            const long long landed = seekNear(index, keyframeFrom, picture);
            if (landed >= 0) {
                return landed;
            }
        }
        if (index < next && !fromStart(error)) {
            return -1;
        }
        while (next <= index) {
            if (!source.next(picture)) {
                ended = true;
                error = formatText("the video ends before frame %lld", index);
                return -1;
            }
            ++next;
        }
        return index;
    }

private:
    // Seeks for index; the index of the picture it gave, or -1 when the reading is to go on
    // from where it is (seeking is then given up where it could not be done exactly).
    long long seekNear(long long index, long long keyframeFrom, Picture& picture) {
        if (keyframeFrom > 0 && source.seek(static_cast<double>(index) * 1000.0 / fps) &&
            source.next(picture) && picture.hasPresentationTime) {
            const auto at = frameIndexAt(picture.presentationMs, fps);
            if (at && *at <= index && *at >= 0) {
                next = *at + 1;
                if (index - *at >= keyframeFrom || *at == index) {
                    return *at;
                }
                return -1;  // decoded on from the keyframe
            }
        }
        if (seekToFrame(source, index).empty()) {
            next = index;
            return -1;
        }
        seeks = false;
        std::string ignored;
        fromStart(ignored);
        return -1;
    }

    bool fromStart(std::string& error) {
        next = 0;
        if (!source.open(videoPath, error)) {
            error = "it cannot be read again: " + error;
            return false;
        }
        return true;
    }

    std::string videoPath;
    VideoSource source;
    double fps = 0.0;
    bool seeks = false;
    bool ended = false;
    long long readOnFrames = 1;
    long long next = 0;  // the index of the picture the source gives next
};

std::string clockText(const VideoStart& start, long long ms) {
    // The time in the video gives the milliseconds; the clock needs its seconds, on the zone the
    // run or the overview was asked for.
    const std::string full = start.clockTime(ms);
    const std::string::size_type dot = full.find('.');
    std::string shown = dot == std::string::npos ? full : full.substr(0, dot);
    std::replace(shown.begin(), shown.end(), 'T', ' ');
    return shown;
}

std::vector<std::string> cornerLines(long long frame, double fps, const VideoStart& start,
                                     long long speed) {
    const long long ms = FrameTime::fromRate(frame, fps).snapshotMs;
    std::vector<std::string> lines = {timecode(ms)};
    if (start.known()) {
        lines.push_back(clockText(start, ms));
    }
    if (speed > 1) {
        lines.push_back(formatText("%lldx", speed));
    }
    return lines;
}

}  // namespace

DigestOutcome writeDigest(const DigestRequest& request) {
    DigestOutcome outcome;
    IndexedReader reader;
    if (!reader.open(request.videoPath, outcome.error)) {
        outcome.error = "it cannot be read again: " + outcome.error;
        return outcome;
    }
    if (!usableFrameRate(reader.rate())) {
        outcome.error = "the video announces no usable frame rate to play its events at";
        return outcome;
    }
    DigestWriter writer;
    PictureConverter converter;
    converter.setStream({reader.video().width(), reader.video().height()},
                        reader.video().rotation());
    Picture picture;
    cv::Mat image;
    bool started = false;
    for (const DigestPiece& piece : request.pieces) {
        // In the quiet, a keyframe a whole step before the frame stands for it.
        const long long keyframeFrom = piece.quiet() ? piece.step : 0;
        for (long long frame = piece.first; frame <= piece.last; frame += piece.step) {
            if (request.stopRequested && request.stopRequested()) {
                outcome.stopped = true;
                outcome.error = "stopped before it was complete";
                return outcome;
            }
            const long long shown = reader.read(frame, keyframeFrom, picture, outcome.error);
            if (shown < 0) {
                return outcome;
            }
            if (!converter.convert(picture, image)) {
                outcome.error = PictureConverter::refusal(picture);
                return outcome;
            }
            if (!started) {
                outcome.error = writer.open(request.path, digestSize(image.size()), reader.rate());
                if (!outcome.error.empty()) {
                    return outcome;
                }
                started = true;
            }
            outcome.error = writer.add(image, cornerLines(shown, reader.rate(), request.start,
                                                          piece.quiet() ? piece.step : 1));
            if (!outcome.error.empty()) {
                return outcome;
            }
        }
    }
    if (!started) {
        outcome.error = "it holds no frame";
        return outcome;
    }
    outcome.frames = writer.framesWritten();
    outcome.error = writer.finish();
    outcome.saved = outcome.error.empty();
    return outcome;
}

namespace {

// The last frame of a video at fps whose snapshot would be named at or before ms.
long long frameShownAt(long long ms, double fps) {
    const auto named = [fps](long long frame) {
        return FrameTime::fromRate(frame, fps).snapshotMs;
    };
    long long frame = std::max(0LL, static_cast<long long>(std::floor(ms * fps / 1000.0)));
    while (named(frame + 1) <= ms) {
        ++frame;
    }
    while (frame > 0 && named(frame) > ms) {
        --frame;
    }
    return frame;
}

}  // namespace

DigestOutcome writeDayDigest(const DayDigestRequest& request) {
    DigestOutcome outcome;
    DigestWriter writer;
    double rate = 0.0;
    std::unique_ptr<IndexedReader> reader;
    std::string readerPath;
    PictureConverter converter;
    Picture picture;
    cv::Mat image;
    long long imageFrame = -1;
    const CameraStretch* before = nullptr;
    for (const CameraStretch& stretch : request.stretches) {
        if (!reader || readerPath != stretch.videoPath) {
            reader = std::make_unique<IndexedReader>();
            readerPath = stretch.videoPath;
            imageFrame = -1;
            if (!reader->open(stretch.videoPath, outcome.error)) {
                outcome.error = "cannot read " + stretch.videoPath + ": " + outcome.error;
                return outcome;
            }
            if (!usableFrameRate(reader->rate())) {
                outcome.error = stretch.videoPath + " announces no usable frame rate";
                return outcome;
            }
            converter.setStream({reader->video().width(), reader->video().height()},
                                reader->video().rotation());
        }
        if (rate == 0.0) {
            rate = reader->rate();
            outcome.error = writer.open(request.path, {kDigestWidth, kDigestHeight}, rate);
            if (!outcome.error.empty()) {
                return outcome;
            }
        }
        const bool followsOn =
            before != nullptr && before->camera == stretch.camera &&
            before->start.utcMs + before->endMs >= stretch.start.utcMs + stretch.startMs - 1000;
        if (!followsOn) {
            outcome.error = writer.addCard(
                {stretch.camera.empty() ? std::string("(no camera)") : stretch.camera,
                 clockText(stretch.start, stretch.startMs)},
                std::max(1LL, std::llround(rate / 2.0)));
            if (!outcome.error.empty()) {
                return outcome;
            }
        }
        before = &stretch;
        for (long long tick = 0;; ++tick) {
            const long long ms = stretch.startMs + std::llround(tick * 1000.0 / rate);
            if (ms > stretch.endMs) {
                break;
            }
            if (request.stopRequested && request.stopRequested()) {
                outcome.stopped = true;
                outcome.error = "stopped before it was complete";
                return outcome;
            }
            const long long frame = frameShownAt(ms, reader->rate());
            if (frame != imageFrame) {
                if (reader->read(frame, 0, picture, outcome.error) < 0) {
                    if (reader->atEnd()) {
                        outcome.error.clear();
                        break;
                    }
                    return outcome;
                }
                if (!converter.convert(picture, image)) {
                    outcome.error = PictureConverter::refusal(picture);
                    return outcome;
                }
                imageFrame = frame;
            }
            outcome.error = writer.add(image, {stretch.camera, clockText(stretch.start, ms)});
            if (!outcome.error.empty()) {
                return outcome;
            }
        }
    }
    if (rate == 0.0) {
        outcome.error = "there is no event to show";
        return outcome;
    }
    outcome.frames = writer.framesWritten();
    outcome.error = writer.finish();
    outcome.saved = outcome.error.empty();
    return outcome;
}

}  // namespace pelmora
