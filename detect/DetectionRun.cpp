#include "DetectionRun.h"

#include <memory>
#include <opencv2/videoio.hpp>

#include "DisplayWindow.h"
#include "FrameClock.h"
#include "TextFormat.h"
#include "VideoJob.h"

namespace pelmora {

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
    job.prepareOutputDirectory();
    report.outputDir = job.getOutputDir();

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

    const SnapshotTally before = detector.tally();
    cv::Mat frame;
    long long frameIndex = 0;
    long long msCounter = 0;
    while (capture.read(frame)) {
        ++report.framesRead;
        if (request.detailed) {
            job.createWriter(frame.size());
        }
        const double streamMs = clock.rateUsable() ? 0.0 : capture.get(cv::CAP_PROP_POS_MSEC);
        detector.processFrame(frame, request.threshold,
                              clock.timeOf(frameIndex, msCounter, streamMs), job, request.detailed,
                              host);
        if (host.stopAfterFrame()) {
            report.status = RunReport::Status::Stopped;
            break;
        }
        ++frameIndex;
        msCounter += 1000;
        const int percent = progressPercent(frameIndex, frameCount);
        if (percent >= 0) {
            host.progress(percent);
        }
    }

    job.releaseCapture();
    videoWindow.reset();
    maskWindow.reset();
    job.releaseWriter();
    report.snapshotsWritten = detector.tally().written - before.written;
    report.snapshotsLost = detector.tally().lost - before.lost;
    host.progress(100);
    return report;
}

}  // namespace pelmora
