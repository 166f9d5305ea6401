#include "DetectionRun.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "ClassicStep.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameDetector.h"
#include "FramePool.h"
#include "FrameReader.h"
#include "IndexAnswer.h"
#include "ObjectsStep.h"
#include "PictureConverter.h"
#include "SettingSweep.h"
#include "SnapshotWriterPool.h"
#include "SweepStep.h"
#include "TextFormat.h"
#include "VideoJob.h"

namespace pelmora {

namespace {

// What an objects run's index says of the run before its first frame.
IndexHead indexHead(const RunRequest& request, const VideoSource& source) {
    IndexHead head;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(request.videoPath, error);
    head.videoPath = error ? request.videoPath : absolute.lexically_normal().string();
    head.creationTime = source.creationTime();
    head.frameSize = source.shownSize();
    head.fps = source.fps();
    head.framesAnnounced = source.announcedFrames();
    head.framesExpected = source.expectedFrames();
    head.announcedMs = source.announcedMs();
    head.maskPath = request.watched.hasPicture() ? request.watched.name() : std::string();
    RegionShapes excluded;
    for (const RegionShape& shape : request.watched.shapes()) {
        if (!shape.keep) {
            excluded.push_back(shape);
        }
    }
    head.excluded = regionLines(excluded);
    return head;
}

// Pictures the reader may decode ahead of the detector.
constexpr std::size_t kReadAhead = 3;

// The frame loop of a run whose video is open and whose folder is ready.
class FrameLoop {
public:
    FrameLoop(FrameDetector& detector, const RunRequest& request, RunHost& host, VideoJob& job,
              RunReport& report)
        : request(request),
          host(host),
          job(job),
          report(report),
          clock(job.getSource().fps()),
          namer(snapshotDigits(job.getSource().announcedMs())),
          // A sweep writes nothing, and one idle writer is all it needs.
          writerCount(request.sweep != nullptr ? 1
                      : request.writers > 0    ? request.writers
                                               : SnapshotWriterPool::defaultWriters()),
          // Enough buffers for those queued for and inside the writers, and the one the
          // detector holds besides its reference.
          pool(2 * static_cast<std::size_t>(writerCount) + 2),
          writers(writerCount, pool),
          frameLengthMs(clock.rateUsable() ? std::llround(1000.0 / job.getSource().fps()) : 0),
          expectedFrames(job.getSource().expectedFrames()) {
        VideoSource& source = job.getSource();
        converter.setStream({source.width(), source.height()}, source.rotation());
        detection = makeStep(detector);
        if (request.index != nullptr && request.detector == DetectorKind::Objects &&
            request.sweep == nullptr) {
            request.index->begin(indexHead(request, source));
        }
    }

    void run() {
        FrameReader reader(job.getSource(), kReadAhead);
        std::exception_ptr failure;
        try {
            readFrames(reader);
        } catch (...) {
            failure = std::current_exception();
        }
        reader.stop();
        job.releaseSource();
        // The snapshots taken before a failure are still written, told and listed.
        try {
            writers.collect(true, [this](const std::string& path, const WriteResult& result) {
                written(path, result);
            });
        } catch (...) {
            if (!failure) {
                failure = std::current_exception();
            }
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
    }

    // Where the last frame read or passed over ends, and whether reading ended past the end of a
    // stretch asked for by stream time rather than at the video's end.
    long long videoEndMs() const { return lastNamed + frameLengthMs; }
    bool endedPastStretch() const { return pastStretch; }

private:
    void readFrames(FrameReader& reader) {
        Picture picture;
        const VideoStretch& stretch = request.stretch;
        // On the stream's clock a frame's name is its presentation time, which the rate does not
        // tell: the frames of a stretch by time are those whose names lie within it.
        const StretchTimes* byName =
            request.clock == RunClock::Stream && request.times.given() ? &request.times : nullptr;
        for (long long frameIndex = stretch.first; reader.next(picture); ++frameIndex) {
            if (stretch.last >= 0 && frameIndex > stretch.last) {
                break;
            }
            if (stretch.exact && !indexHolds(frameIndex, picture)) {
                report.status = RunReport::Status::Stopped;
                break;
            }
            if (byName != nullptr) {
                lastNamed = timeOf(frameIndex, picture).snapshotMs;
                if (byName->toMs && lastNamed > *byName->toMs) {
                    pastStretch = true;
                    break;
                }
                if (byName->fromMs && lastNamed < *byName->fromMs) {
                    if (host.stopAfterFrame()) {
                        report.status = RunReport::Status::Stopped;
                        break;
                    }
                    continue;
                }
            }
            ++report.framesRead;
            const double ms = picture.hasPresentationTime ? picture.presentationMs
                                                          : indexTime(frameIndex).snapshotMs;
            if (report.lastFrame < 0) {
                report.firstFrame = frameIndex;
                report.firstMs = ms;
            }
            report.lastFrame = frameIndex;
            report.lastMs = ms;
            if (!step(frameIndex, picture)) {
                break;
            }
        }
    }

    // Whether the picture's presentation time makes it frame frameIndex at the stream's rate,
    // at the stream's size (a converter that saw another size before would convert it
    // otherwise); else the report says why not.
    bool indexHolds(long long frameIndex, const Picture& picture) {
        const VideoSource& source = job.getSource();
        if (!picture.hasPresentationTime) {
            report.inexact = formatText("frame %lld has no presentation time", frameIndex);
            return false;
        }
        const std::optional<long long> at = frameIndexAt(picture.presentationMs, source.fps());
        if (!at || *at != frameIndex) {
            report.inexact = formatText(
                "frame %lld is presented at %.3f ms, not at its place at %g frames per second",
                frameIndex, picture.presentationMs, source.fps());
            return false;
        }
        if (picture.frame->width != source.width() || picture.frame->height != source.height()) {
            report.inexact = formatText("frame %lld is %dx%d, not the stream's %dx%d", frameIndex,
                                        picture.frame->width, picture.frame->height, source.width(),
                                        source.height());
            return false;
        }
        return true;
    }

    // One frame: measured by the run's step, perhaps saved; false to stop after it.
    bool step(long long frameIndex, const Picture& picture) {
        if (report.framesRead == 1) {
            firstFrame(converter.imageSize(picture));
        } else if (converter.changesFormat(picture)) {
            formatChanged(frameIndex, *picture.frame);
        }
        const FrameTime time = timeOf(frameIndex, picture);
        const long long streamMs = streamTimeOf(frameIndex, picture);
        report.spanMs = time.snapshotMs + frameLengthMs;
        cv::Mat image;
        pool.acquire(image);
        StepOutcome outcome;
        try {
            outcome = detection->step({frameIndex, picture, time, streamMs}, image);
        } catch (...) {
            pool.release(std::move(image));
            throw;
        }
        if (!outcome.line.empty()) {
            host.tell({MessageKind::Notice, request.videoPath, outcome.line});
        }
        if (outcome.measured && request.observer != nullptr) {
            request.observer->frameMeasured({frameIndex, time.snapshotMs, outcome.changedPixels,
                                             streamMs, outcome.againstBlack});
        }
        if (outcome.snapshot) {
            for (const cv::Rect& box : outcome.boxes) {
                report.objectsBox = report.objectsBox.area() > 0 ? (report.objectsBox | box) : box;
            }
            report.mostObjects =
                std::max(report.mostObjects, static_cast<int>(outcome.boxes.size()));
            std::string name = namer.next(time.snapshotMs);
            std::string path = joinPath(job.getOutputDir(), name);
            unwritten.push_back({frameIndex, time.snapshotMs, outcome.changedPixels,
                                 std::move(name), false, streamMs, outcome.againstBlack,
                                 std::move(outcome.boxes)});
            writers.submit(std::move(path), std::move(image));
            if (request.endsAfterSnapshot && request.endsAfterSnapshot(frameIndex)) {
                report.endedAtSnapshot = true;
            }
        } else {
            pool.release(std::move(image));
        }
        writers.collect(false, [this](const std::string& path, const WriteResult& result) {
            written(path, result);
        });
        return frameDone(frameIndex);
    }

    // The run's detection step, chosen once: a sweep's, or the detector's the request names.
    std::unique_ptr<FrameStep> makeStep(FrameDetector& classic) {
        const VideoSource& source = job.getSource();
        if (request.sweep != nullptr) {
            return std::make_unique<SweepStep>(*request.sweep, request.sweepObserver, converter);
        }
        if (request.detector == DetectorKind::Objects) {
            return std::make_unique<ObjectsStep>(converter, request, source.rotation(),
                                                 source.fps());
        }
        return std::make_unique<ClassicStep>(classic, converter, request);
    }

    // Says what changed: a new size makes the next frame a start against black, a new pixel
    // format alone changes nothing that is compared.
    void formatChanged(long long frameIndex, const AVFrame& frame) {
        const cv::Size before = converter.pictureSize();
        const int formatBefore = converter.pictureFormat();
        const std::string video = request.videoPath;
        std::string formats;
        if (formatBefore != frame.format) {
            formats = formatText("%s to %s", pixelFormatName(formatBefore),
                                 pixelFormatName(frame.format));
        }
        if (before == cv::Size(frame.width, frame.height)) {
            host.tell({MessageKind::Notice, video,
                       formatText("Pixel format of %s changes from %s at frame %lld", video.c_str(),
                                  formats.c_str(), frameIndex)});
            return;
        }
        const std::string alsoFormat =
            formats.empty() ? std::string() : " and its pixel format from " + formats;
        host.tell(
            {MessageKind::Notice, video,
             formatText("Frame size of %s changes to %dx%d%s at frame %lld: comparing "
                        "with black from there",
                        video.c_str(), frame.width, frame.height, alsoFormat.c_str(), frameIndex)});
    }

    static const char* pixelFormatName(int format) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(format));
        return name != nullptr ? name : "unknown";
    }

    // Before the first frame is measured: a watched region of another size is scaled to it.
    void firstFrame(cv::Size size) {
        const WatchedRegion& region = request.watched;
        if (region.hasPicture() && region.size() != size) {
            host.tell({MessageKind::Notice, region.name(),
                       formatText("Scaling the mask %s from %dx%d to the video's %dx%d",
                                  region.name().c_str(), region.size().width, region.size().height,
                                  size.width, size.height)});
        }
    }

    // The presentation time in whole milliseconds, continued where the video's times start
    // again as the clips continue them, never before the frame before it, so that names stay
    // in order; the index time where the stream has none.
    long long streamTimeOf(long long frameIndex, const Picture& picture) {
        const long long ms = picture.hasPresentationTime
                                 ? static_cast<long long>(std::floor(picture.continuedMs + 0.5))
                                 : indexTime(frameIndex).snapshotMs;
        lastStreamMs = std::max(ms, lastStreamMs);
        return lastStreamMs;
    }

    FrameTime indexTime(long long frameIndex) {
        return clock.rateUsable() ? FrameTime::fromRate(frameIndex, job.getSource().fps())
                                  : FrameTime();
    }

    FrameTime timeOf(long long frameIndex, const Picture& picture) {
        if (request.clock == RunClock::Stream && picture.hasPresentationTime) {
            const long long ms = streamTimeOf(frameIndex, picture);
            return {static_cast<double>(ms) / 1000.0, ms};
        }
        return clock.timeOf(frameIndex, picture.positionMs);
    }

    // A write's outcome, counted and told: "[path]", or why it failed. The reference has moved
    // either way, so that one lost write does not turn every later frame into a snapshot against
    // a stale reference.
    void written(const std::string& path, const WriteResult& result) {
        if (result.saved) {
            ++report.snapshotsWritten;
            host.tell({MessageKind::FileSaved, path});
        } else {
            ++report.snapshotsLost;
            host.tell({MessageKind::SnapshotNotSaved, path, result.reason});
        }
        SnapshotOutcome outcome = std::move(unwritten.front());
        unwritten.pop_front();
        outcome.saved = result.saved;
        if (request.observer != nullptr) {
            request.observer->snapshotDone(outcome);
        }
    }

    // After frame frameIndex: the stop question, then the progress; false to stop.
    bool frameDone(long long frameIndex) {
        if (host.stopAfterFrame()) {
            report.status = RunReport::Status::Stopped;
            return false;
        }
        if (report.endedAtSnapshot) {
            return false;
        }
        const VideoStretch& stretch = request.stretch;
        const long long frames =
            stretch.last >= 0 ? stretch.last + 1 - stretch.first : expectedFrames - stretch.first;
        const int percent = progressPercent(frameIndex + 1 - stretch.first, frames);
        if (percent >= 0) {
            host.progress(percent);
        }
        return true;
    }

    const RunRequest& request;
    RunHost& host;
    VideoJob& job;
    RunReport& report;
    FrameClock clock;
    SnapshotNamer namer;
    PictureConverter converter;
    const int writerCount;
    FramePool pool;
    SnapshotWriterPool writers;
    const long long frameLengthMs;
    // What the progress counts on.
    const long long expectedFrames;
    // The snapshots handed to the writers whose outcome is not known yet, oldest first: the
    // writers report in the same order.
    std::deque<SnapshotOutcome> unwritten;
    long long lastStreamMs = 0;
    std::unique_ptr<FrameStep> detection;
    long long lastNamed = -1;
    bool pastStretch = false;
};

}  // namespace

namespace {

void failRun(RunReport& report, RunHost& host, const std::string& video,
             const std::string& reason) {
    // The first failure is the cause; what a later stage says of it is a consequence.
    if (report.status == RunReport::Status::Failed) {
        return;
    }
    report.status = RunReport::Status::Failed;
    report.failure = reason;
    host.tell({MessageKind::VideoUnreadable, video, reason});
}

// The frames that times stand for in the source, or why they cannot be read exactly.
std::string timedStretch(const VideoSource& source, const StretchTimes& times,
                         VideoStretch& stretch) {
    std::string refusal = stretchAtTimes(times, source.fps(), source.announcedFrames(), stretch);
    if (refusal.empty() && stretch.first > 0) {
        refusal = whyNotSplittable(source, 1);
        if (!refusal.empty()) {
            refusal = "a stretch past its first frame cannot be found exactly, since " + refusal;
        }
    }
    return refusal;
}

// The run's boundary: what a stage of the run throws (the decoder's thread, the converter, a
// writer, the records) fails this video with its message rather than ending the program, so that
// a batch goes on to its next video.
template <typename Stage>
void failOnThrow(RunReport& report, RunHost& host, const std::string& video, Stage&& stage) {
    try {
        stage();
    } catch (const std::exception& error) {
        failRun(report, host, video, error.what());
    } catch (...) {
        failRun(report, host, video, "an unknown error");
    }
}

// Everything of a run up to its end: the video opened, the folder readied, the observer told of
// the start (started), the frames read. A run that ends before its frames leaves framesRan false.
void readVideo(FrameDetector& detector, const RunRequest& asked, RunHost& host, RunReport& report,
               bool& started, bool& framesRan) {
    VideoJob job(asked.videoPath, asked.outputDir);
    report.openError = job.open(asked.decoderThreads);
    if (!report.openError.empty()) {
        host.tell({MessageKind::VideoNotOpened, asked.videoPath, report.openError});
        report.status = RunReport::Status::OpenFailed;
        return;
    }
    RunRequest request = asked;
    const bool byStreamTime = asked.times.given() && asked.clock == RunClock::Stream;
    // Settled before the folder is touched, so that times the video cannot honour leave nothing.
    // Times on the stream's clock are the frames' own, found as they are read.
    if (asked.times.given() && !byStreamTime) {
        const std::string refusal = timedStretch(job.getSource(), asked.times, request.stretch);
        if (!refusal.empty()) {
            failRun(report, host, request.videoPath, refusal);
            return;
        }
    }
    const cv::Size announcedSize = job.getSource().shownSize();
    // Polygons are drawn in the video's pixels: ones that do not fit it were drawn for another.
    const std::string outside = regionsOutside(request.watched.shapes(), announcedSize);
    if (!outside.empty()) {
        failRun(report, host, request.videoPath, outside);
        return;
    }
    report.start = decideStart(request.videoPath, job.getSource().creationTime(), request.start);
    report.outputDir = job.getOutputDir();
    if (request.intoFolder) {
        report.outputError = job.prepareOutputDirectory();
        report.outputDir = job.getOutputDir();
    }
    if (request.intoFolder && report.outputError.empty() && request.folderReady) {
        report.outputError = request.folderReady(report.outputDir);
    }
    if (!report.outputError.empty()) {
        host.tell({MessageKind::FolderUnusable, report.outputDir, report.outputError});
        report.status = RunReport::Status::OutputUnusable;
        return;
    }
    detector.setRules(request.minPixels, request.watched);

    const VideoSource& source = job.getSource();
    const double fps = source.fps();
    report.framesAnnounced = std::max(source.announcedFrames(), 0LL);
    // Of a stretch, what the file announces of it: its frames between the times, where the rate
    // tells them, so that a stretch read whole is not taken for a file cut short.
    if (byStreamTime) {
        report.framesAnnounced = 0;
    } else if (asked.times.given() && report.framesAnnounced > 0) {
        const long long last =
            request.stretch.last >= 0 ? request.stretch.last : report.framesAnnounced - 1;
        report.framesAnnounced = last + 1 - request.stretch.first;
    }
    if (!FrameClock(fps).rateUsable()) {
        host.tell({MessageKind::Notice, request.videoPath,
                   formatText("Frame rate %g of %s is not usable: timing frames by the stream's "
                              "timestamps, else at %g frames per second",
                              fps, request.videoPath.c_str(), FrameClock::kFallbackFps)});
    }
    if (request.observer != nullptr) {
        started = true;
        request.observer->runStarted(
            {request.videoPath, report.outputDir, announcedSize, fps, report.framesAnnounced,
             request.threshold, request.minPixels, request.watched.wholeFrame(),
             request.watched.name(), std::max(source.expectedFrames(), 0LL), report.start,
             request.sweep == nullptr && request.detector == DetectorKind::Objects,
             request.watched.shapes()});
    }

    if (request.stretch.first > 0) {
        report.inexact = seekToFrame(job.getSource(), request.stretch.first);
        if (!report.inexact.empty()) {
            report.inexact = formatText("frame %lld cannot be found exactly: %s",
                                        request.stretch.first, report.inexact.c_str());
            report.status = RunReport::Status::Stopped;
            // Asked for by time, the stretch is the user's: one not read is a failure.
            if (asked.times.given()) {
                failRun(report, host, request.videoPath, report.inexact);
            }
            return;
        }
    }
    framesRan = true;
    report.findsObjects = request.sweep == nullptr && request.detector == DetectorKind::Objects;
    FrameLoop loop(detector, request, host, job, report);
    loop.run();
    if (byStreamTime && report.status == RunReport::Status::Finished) {
        const std::string refusal = namedStretchRefusal(
            asked.times, report.framesRead, loop.endedPastStretch() ? -1 : loop.videoEndMs());
        if (!refusal.empty()) {
            failRun(report, host, request.videoPath, refusal);
        }
    }
    // A stretch asked for by time is all read, exactly, or the run says it was not.
    if (asked.times.given() && report.status == RunReport::Status::Stopped &&
        !report.inexact.empty()) {
        failRun(report, host, request.videoPath,
                "the stretch cannot be read exactly: " + report.inexact);
    } else if (asked.times.given() && report.status == RunReport::Status::Finished &&
               request.stretch.last >= 0 && report.lastFrame != request.stretch.last) {
        failRun(report, host, request.videoPath,
                formatText("the video ends at frame %lld, before the stretch's last, %lld",
                           report.lastFrame, request.stretch.last));
    }
    // A video of which nothing could be read has not been looked at: it has failed, and no
    // record may say it was done.
    if (report.status == RunReport::Status::Finished && report.framesRead == 0) {
        const std::string announced = report.framesAnnounced > 0
                                          ? formatText(", %lld announced", report.framesAnnounced)
                                          : std::string();
        failRun(report, host, request.videoPath, "no frame of it could be read" + announced);
    }
}

}  // namespace

RunReport runDetection(FrameDetector& detector, const RunRequest& request, RunHost& host) {
    RunReport report;
    bool started = false;
    bool framesRan = false;
    failOnThrow(report, host, request.videoPath, [&] {
        if (request.question != nullptr) {
            answerFromIndex(request, host, report, started, framesRan);
        } else {
            readVideo(detector, request, host, report, started, framesRan);
        }
    });
    // An observer told of the start hears of the end, a failed one too.
    if (started && request.observer != nullptr) {
        failOnThrow(report, host, request.videoPath,
                    [&] { request.observer->runFinished(report); });
    }
    if (framesRan && report.status != RunReport::Status::Failed) {
        host.progress(100);
    }
    return report;
}

}  // namespace pelmora
