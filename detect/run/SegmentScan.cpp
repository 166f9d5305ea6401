#include "SegmentScan.h"

#include "SegmentRecord.h"
#include "SnapshotNaming.h"
#include "TextFormat.h"
#include "VideoJob.h"
#include "VideoSource.h"

namespace pelmora {

namespace {

// What a stretch's run found, as the record and the frames' file keep it.
class SegmentCollector : public RunObserver {
public:
    explicit SegmentCollector(SegmentRecord& record) : record(record) {}

    void runStarted(const RunFacts& facts) override {
        record.facts = facts;
        record.facts.outputDir.clear();
        folder = facts.outputDir;
        failure = frames.create(joinPath(folder, kSegmentFramesName));
    }
    void frameMeasured(const FrameMeasure& measure) override { frames.add(measure); }
    void snapshotDone(const SnapshotOutcome& snapshot) override {
        record.snapshots.push_back(snapshot);
    }
    void runFinished(const RunReport&) override {
        const std::string closed = frames.close();
        if (failure.empty()) {
            failure = closed;
        }
    }

    // Why the frames' file could not be written, or nothing.
    const std::string& error() const { return failure; }

private:
    SegmentRecord& record;
    SegmentFrames frames;
    std::string folder;
    std::string failure;
};

// The stretch the request stands for, or why the video cannot be split exactly.
std::string planStretch(const SegmentRequest& request, VideoStretch& stretch, RunFacts& facts) {
    VideoSource source;
    std::string reason;
    if (!source.open(request.run.videoPath, reason, 1)) {
        // The run says so in its own words.
        stretch = stretchOf(request.index, request.count, 0);
        return std::string();
    }
    facts.videoPath = request.run.videoPath;
    facts.fps = source.fps();
    facts.framesAnnounced = source.announcedFrames();
    reason = whyNotSplittable(source, request.count);
    if (reason.empty()) {
        stretch = stretchOf(request.index, request.count, source.announcedFrames());
    }
    return reason;
}

}  // namespace

SegmentScan scanSegment(const SegmentRequest& request, RunHost& host) {
    SegmentScan scan;
    SegmentRecord record;
    record.index = request.index;
    record.count = request.count;
    record.identity = request.identity;
    RunRequest run = request.run;
    const std::string unsplittable = planStretch(request, run.stretch, record.facts);
    if (!unsplittable.empty()) {
        // Nothing is scanned; the folder still holds the record that says why.
        VideoJob job(run.videoPath, run.outputDir);
        scan.report.outputDir = run.outputDir;
        std::string reason = job.prepareOutputDirectory();
        if (reason.empty() && run.folderReady) {
            reason = run.folderReady(job.getOutputDir());
        }
        if (!reason.empty()) {
            scan.report.status = RunReport::Status::OutputUnusable;
            scan.report.outputError = reason;
            return scan;
        }
        scan.inexact = record.inexact = unsplittable;
        scan.recordError = writeSegmentRecord(job.getOutputDir(), record);
        scan.recorded = scan.recordError.empty();
        return scan;
    }
    SegmentCollector collector(record);
    run.observer = &collector;
    FrameDetector detector;
    scan.report = runDetection(detector, run, host);
    const RunReport& report = scan.report;
    if (!report.inexact.empty()) {
        record.inexact = report.inexact;
        // The run stops where frames can no longer be told by index, a stretch that starts past
        // the video's real end before its first: nothing interrupted it, and its record is all
        // a join needs to scan the video as one run.
        if (report.status == RunReport::Status::Stopped) {
            scan.report.status = RunReport::Status::Finished;
        }
    } else if (report.status != RunReport::Status::Finished || report.snapshotsLost > 0) {
        return scan;
    } else if (run.stretch.last >= 0 && report.lastFrame != run.stretch.last) {
        record.inexact = formatText("the video ends at frame %lld, before the stretch's last, %lld",
                                    report.lastFrame, run.stretch.last);
    }
    if (!collector.error().empty()) {
        scan.recordError = collector.error();
        return scan;
    }
    record.firstFrame = report.firstFrame;
    record.lastFrame = report.lastFrame;
    record.firstMs = report.firstMs;
    record.lastMs = report.lastMs;
    record.toEnd = run.stretch.last < 0;
    record.framesRead = report.framesRead;
    if (record.inexact.empty() && !detector.reference().empty()) {
        scan.recordError = writeReferenceImage(joinPath(report.outputDir, kSegmentReferenceName),
                                               detector.reference());
    }
    if (scan.recordError.empty()) {
        scan.recordError = digestSegmentFiles(report.outputDir, record);
    }
    if (scan.recordError.empty()) {
        scan.recordError = writeSegmentRecord(report.outputDir, record);
    }
    scan.inexact = record.inexact;
    scan.recorded = scan.recordError.empty();
    return scan;
}

}  // namespace pelmora
