#include "VideoDigest.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <opencv2/core.hpp>
#include <set>
#include <utility>

#include "DigestWriter.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameSeeker.h"
#include "PictureConverter.h"
#include "TextFormat.h"
#include "VideoSource.h"

namespace pelmora {

namespace {

std::string clockText(const VideoStart& start, long long ms) {
    // The time in the video gives the milliseconds; the clock needs its seconds, on the zone the
    // run or the overview was asked for.
    const std::string full = start.clockTime(ms);
    const std::string::size_type dot = full.find('.');
    std::string shown = dot == std::string::npos ? full : full.substr(0, dot);
    std::replace(shown.begin(), shown.end(), 'T', ' ');
    return shown;
}

std::vector<std::string> cornerLines(long long frame, const FrameNames& names,
                                     const VideoStart& start, long long speed) {
    const long long ms = names.msOf(frame);
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
    FrameSeeker reader;
    outcome.error = reader.open(request.videoPath);
    if (!outcome.error.empty()) {
        outcome.error = "it cannot be read again: " + outcome.error;
        return outcome;
    }
    if (!usableFrameRate(reader.frameRate())) {
        outcome.error = "the video announces no usable frame rate to play its events at";
        return outcome;
    }
    const FrameNames names = request.names.value_or(FrameNames(reader.frameRate()));
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
            const long long shown = reader.pictureAt(frame, keyframeFrom, picture, outcome.error);
            if (shown < 0) {
                return outcome;
            }
            if (!converter.convert(picture, image)) {
                outcome.error = PictureConverter::refusal(picture);
                return outcome;
            }
            if (!started) {
                outcome.error =
                    writer.open(request.path, digestSize(image.size()), reader.frameRate());
                if (!outcome.error.empty()) {
                    return outcome;
                }
                started = true;
            }
            outcome.error = writer.add(
                image, cornerLines(shown, names, request.start, piece.quiet() ? piece.step : 1));
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

// The videos a day's digest keeps open at once: where the events of cameras interleave, each
// camera's file is read on from where it was rather than again from its start, which a file
// that cannot seek by index would need at every change of camera. The one longest unused is
// closed past these, so that a day of many files keeps a few decoders, not one a file.
constexpr std::size_t kDayReadersOpen = 8;

// The reading of one video of a day's digest.
struct CameraReading {
    std::string videoPath;
    FrameSeeker reader;
    PictureConverter converter;
    cv::Mat image;
    long long imageFrame = -1;

    // Reads videoPath from here on; why it cannot, or empty.
    std::string open(const std::string& path) {
        videoPath = path;
        imageFrame = -1;
        const std::string error = reader.open(path);
        if (!error.empty()) {
            return "cannot read " + path + ": " + error;
        }
        if (!usableFrameRate(reader.frameRate())) {
            return path + " announces no usable frame rate";
        }
        converter.setStream({reader.video().width(), reader.video().height()},
                            reader.video().rotation());
        return std::string();
    }
};

// The size of the largest picture the stretches show, turned as it is shown, fitted into the
// digest's largest size: smaller cameras are not blown up to 720p, which costs more to encode
// than it shows.
cv::Size daySize(const std::vector<CameraStretch>& stretches) {
    std::set<std::string> seen;
    cv::Size largest;
    for (const CameraStretch& stretch : stretches) {
        if (!seen.insert(stretch.videoPath).second) {
            continue;
        }
        VideoSource source;
        if (!source.open(stretch.videoPath).empty()) {
            continue;  // said as the stretch is read
        }
        const cv::Size size = source.shownSize();
        if (size.area() > largest.area()) {
            largest = size;
        }
    }
    return largest.area() > 0 ? digestSize(largest) : cv::Size(kDigestWidth, kDigestHeight);
}

}  // namespace

DigestOutcome writeDayDigest(const DayDigestRequest& request) {
    DigestOutcome outcome;
    DigestWriter writer;
    double rate = 0.0;
    // The most recently used first.
    std::list<std::unique_ptr<CameraReading>> open;
    const CameraStretch* before = nullptr;
    for (const CameraStretch& stretch : request.stretches) {
        auto found = std::find_if(open.begin(), open.end(), [&](const auto& reading) {
            return reading->videoPath == stretch.videoPath;
        });
        if (found != open.end()) {
            open.splice(open.begin(), open, found);
        } else {
            if (open.size() >= kDayReadersOpen) {
                open.pop_back();
            }
            open.push_front(std::make_unique<CameraReading>());
            outcome.error = open.front()->open(stretch.videoPath);
            if (!outcome.error.empty()) {
                return outcome;
            }
        }
        CameraReading* const camera = open.front().get();
        FrameSeeker& reader = camera->reader;
        if (rate == 0.0) {
            rate = reader.frameRate();
            outcome.error = writer.open(request.path, daySize(request.stretches), rate);
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
        const FrameNames names(reader.frameRate());
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
            const long long frame = std::max(0LL, names.lastTo(ms));
            if (frame != camera->imageFrame) {
                Picture picture;
                if (reader.pictureAt(frame, 0, picture, outcome.error) < 0) {
                    if (reader.atEnd()) {
                        outcome.error.clear();
                        break;
                    }
                    return outcome;
                }
                if (!camera->converter.convert(picture, camera->image)) {
                    outcome.error = PictureConverter::refusal(picture);
                    return outcome;
                }
                camera->imageFrame = frame;
            }
            outcome.error =
                writer.add(camera->image, {stretch.camera, clockText(stretch.start, ms)});
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
