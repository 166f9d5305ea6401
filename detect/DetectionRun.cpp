#include "DetectionRun.h"

#include <cstdlib>
#include <deque>
#include <memory>
#include <opencv2/videoio.hpp>
#include <utility>

#include "DisplayWindow.h"
#include "FrameClock.h"
#include "FramePool.h"
#include "FrameReader.h"
#include "SnapshotWriterPool.h"
#include "TextFormat.h"
#include "VideoJob.h"

namespace pelmora {

namespace {

// Frames the reader may decode ahead of the detector.
constexpr std::size_t kReadAhead = 3;

// What the two kinds of run share around their frame loops.
struct Loop {
    FrameDetector& detector;
    const RunRequest& request;
    RunHost& host;
    VideoJob& job;
    FrameClock& clock;
    long long frameCount;
    RunReport& report;
    RunObserver* observer;

    // Before the first frame is measured: a watched region of another size is scaled to it.
    void firstFrame(cv::Size size) {
        const WatchedRegion& region = request.watched;
        if (!region.wholeFrame() && region.size() != size) {
            host.write(LogKind::Warning,
                       formatText("Scaling the mask %s from %dx%d to the video's %dx%d\n",
                                  region.name().c_str(), region.size().width, region.size().height,
                                  size.width, size.height));
        }
    }

    void measured(long long frameIndex, const FrameTime& time, int changedPixels) {
        if (observer != nullptr) {
            observer->frameMeasured({frameIndex, time.snapshotMs, changedPixels});
        }
    }

    // After frame frameIndex: the stop question, then the progress; false to stop.
    bool frameDone(long long frameIndex) {
        if (host.stopAfterFrame()) {
            report.status = RunReport::Status::Stopped;
            return false;
        }
        const int percent = progressPercent(frameIndex + 1, frameCount);
        if (percent >= 0) {
            host.progress(percent);
        }
        return true;
    }
};

void runDetailed(Loop& loop) {
    cv::VideoCapture& capture = loop.job.getCapture();
    cv::Mat frame;
    for (long long frameIndex = 0; capture.read(frame); ++frameIndex) {
        ++loop.report.framesRead;
        loop.job.createWriter(frame.size());
        const double streamMs = loop.clock.rateUsable() ? 0.0 : capture.get(cv::CAP_PROP_POS_MSEC);
        const FrameTime time = loop.clock.timeOf(frameIndex, streamMs);
        if (frameIndex == 0) {
            loop.firstFrame(frame.size());
        }
        const FrameOutcome outcome = loop.detector.processFrame(frame, loop.request.threshold, time,
                                                                loop.job, true, loop.host);
        const int changedPixels = loop.detector.lastChangedPixels();
        loop.measured(frameIndex, time, changedPixels);
        if (outcome != FrameOutcome::NoMotion && loop.observer != nullptr) {
            loop.observer->snapshotDone({frameIndex, time.snapshotMs, changedPixels,
                                         loop.detector.lastSnapshotName(),
                                         outcome == FrameOutcome::SnapshotSaved});
        }
        if (!loop.frameDone(frameIndex)) {
            break;
        }
    }
    loop.job.releaseCapture();
}

void runQuiet(Loop& loop) {
    const int writerCount =
        loop.request.writers > 0 ? loop.request.writers : SnapshotWriterPool::defaultWriters();
    // Enough buffers for the frames read ahead, those queued for and inside the writers, and
    // the one the detector holds.
    FramePool pool(kReadAhead + 2 * static_cast<std::size_t>(writerCount) + 1);
    SnapshotWriterPool writers(writerCount, pool);
    FrameReader reader(loop.job.getCapture(), pool, !loop.clock.rateUsable());
    FrameDetector& detector = loop.detector;
    // The snapshots handed to the writers whose outcome the observer has not had yet, oldest
    // first: the writers report in the same order.
    std::deque<SnapshotOutcome> unwritten;
    const auto log = [&](const std::string& path, const WriteResult& result) {
        detector.recordSnapshot(path, result, loop.host);
        if (loop.observer != nullptr) {
            unwritten.front().saved = result.saved;
            loop.observer->snapshotDone(unwritten.front());
            unwritten.pop_front();
        }
    };

    DecodedFrame frame;
    for (long long frameIndex = 0; reader.next(frame); ++frameIndex) {
        ++loop.report.framesRead;
        const FrameTime time = loop.clock.timeOf(frameIndex, frame.streamMs);
        if (frameIndex == 0) {
            loop.firstFrame(frame.image.size());
        }
        const int changedPixels = detector.measure(frame.image, loop.request.threshold, time);
        loop.measured(frameIndex, time, changedPixels);
        if (detector.triggers(changedPixels)) {
            std::string path = detector.takeSnapshot(frame.image, loop.job, time);
            if (loop.observer != nullptr) {
                unwritten.push_back({frameIndex, time.snapshotMs, changedPixels,
                                     detector.lastSnapshotName(), false});
            }
            writers.submit(std::move(path), std::move(frame.image));
        } else {
            pool.release(std::move(frame.image));
        }
        writers.collect(false, log);
        if (!loop.frameDone(frameIndex)) {
            break;
        }
    }
    reader.stop();
    loop.job.releaseCapture();
    writers.collect(true, log);
}

}  // namespace

std::string framesText(const RunReport& report) {
    const long long difference = report.framesRead - report.framesAnnounced;
    if (report.status == RunReport::Status::Finished && report.framesAnnounced > 0 &&
        std::llabs(difference) * 100 > report.framesAnnounced) {
        return formatText("%lld frames read, %lld announced", report.framesRead,
                          report.framesAnnounced);
    }
    return formatText(report.framesRead == 1 ? "%lld frame" : "%lld frames", report.framesRead);
}

int progressPercent(long long framesDone, long long frameCount) {
    const double percent =
        static_cast<double>(framesDone) / static_cast<double>(frameCount) * 100.0;
    // Also false for the NaN and infinities of a zero count.
    if (!(percent > -1.0 && percent < 101.0)) {
        return -1;
    }
    return static_cast<int>(percent);
}

RunReport runDetection(FrameDetector& detector, const RunRequest& request, RunHost& host) {
    RunReport report;
    VideoJob job(request.videoPath, request.outputDir);
    if (!job.open()) {
        host.write(LogKind::Failure, formatText("Failed to open %s\n", request.videoPath.c_str()));
        report.status = RunReport::Status::OpenFailed;
        return report;
    }
    report.outputError = job.prepareOutputDirectory();
    report.outputDir = job.getOutputDir();
    if (!report.outputError.empty()) {
        host.write(LogKind::Failure,
                   formatText("Cannot save snapshots in %s: %s\n", report.outputDir.c_str(),
                              report.outputError.c_str()));
        report.status = RunReport::Status::OutputUnusable;
        return report;
    }
    detector.beginRun(request.minPixels, request.watched);

    std::unique_ptr<DisplayWindow> videoWindow;
    std::unique_ptr<DisplayWindow> maskWindow;
    if (request.detailed) {
        videoWindow = std::make_unique<DisplayWindow>(job.getVideoPath());
        maskWindow = std::make_unique<DisplayWindow>(kMaskWindowName);
    }

    cv::VideoCapture& capture = job.getCapture();
    const double fps = capture.get(cv::CAP_PROP_FPS);
    const auto frameCount = static_cast<long long>(capture.get(cv::CAP_PROP_FRAME_COUNT));
    report.framesAnnounced = frameCount > 0 ? frameCount : 0;
    FrameClock clock(fps);
    if (!clock.rateUsable()) {
        host.write(LogKind::Warning,
                   formatText("Frame rate %g of %s is not usable: timing frames by the stream's "
                              "timestamps, else at %g frames per second\n",
                              fps, request.videoPath.c_str(), FrameClock::kFallbackFps));
    }

    if (request.observer != nullptr) {
        const cv::Size announcedSize(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                                     static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
        request.observer->runStarted({request.videoPath, report.outputDir, announcedSize, fps,
                                      report.framesAnnounced, request.threshold, request.minPixels,
                                      request.watched.wholeFrame(), request.watched.name()});
    }

    const SnapshotTally before = detector.tally();
    Loop loop{detector, request, host, job, clock, frameCount, report, request.observer};
    if (request.detailed) {
        runDetailed(loop);
    } else {
        runQuiet(loop);
    }
    videoWindow.reset();
    maskWindow.reset();
    job.releaseWriter();
    report.snapshotsWritten = detector.tally().written - before.written;
    report.snapshotsLost = detector.tally().lost - before.lost;
    if (request.observer != nullptr) {
        request.observer->runFinished(report);
    }
    host.progress(100);
    return report;
}

}  // namespace pelmora
