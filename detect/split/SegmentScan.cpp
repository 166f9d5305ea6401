#include "SegmentScan.h"

#include "FolderNames.h"
#include "RunFolder.h"
#include "SegmentRecord.h"
#include "TextFormat.h"
#include "VideoJob.h"
#include "VideoRun.h"
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
    if (!source.open(request.run.videoPath, 1).empty()) {
        // The run says so in its own words.
        stretch = stretchOf(request.index, request.count, 0);
        return std::string();
    }
    facts.videoPath = request.run.videoPath;
    facts.fps = source.fps();
    facts.framesAnnounced = source.announcedFrames();
    // The objects detector learns the scene from the first frame on: a stretch scanned alone
    // starts from a scene the one run had learnt otherwise, so only one run of the video is
    // exact, and that run's index holds the whole video.
    const std::string reason =
        request.run.detector == DetectorKind::Objects
            ? "the objects detector learns the scene from the video's first frame on, which a "
              "stretch alone does not see"
            : whyNotSplittable(source, request.count);
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
    const auto cannotRecord = [&](const std::string& folder, const std::string& reason) {
        scan.recordError = reason;
        return formatText("cannot write the record of stretch %d/%d in %s: %s", request.index,
                          request.count, folder.c_str(), reason.c_str());
    };
    const std::string unsplittable = planStretch(request, run.stretch, record.facts);
    if (!unsplittable.empty()) {
        // Nothing is scanned; the folder still holds the record that says why.
        VideoJob job(run.videoPath, run.outputDir);
        scan.report.outputDir = run.outputDir;
        FolderLock lock;
        EarlierRun earlier;
        std::string reason = job.prepareOutputDirectory();
        if (reason.empty()) {
            reason = readyFolder(job.getOutputDir(), EarlierSnapshots::Remove, lock, earlier, host);
        }
        if (!reason.empty()) {
            scan.report.status = RunReport::Status::OutputUnusable;
            scan.report.outputError = reason;
            return scan;
        }
        scan.inexact = record.inexact = unsplittable;
        const std::string error = writeSegmentRecord(job.getOutputDir(), record);
        if (!error.empty()) {
            host.tell({MessageKind::RecordNotWritten, job.getOutputDir(),
                       cannotRecord(job.getOutputDir(), error)});
        }
        scan.recorded = error.empty();
        return scan;
    }
    SegmentCollector collector(record);
    FrameDetector detector;
    VideoRunRequest stretchRun;
    stretchRun.run = run;
    stretchRun.run.observer = &collector;
    // The stretch's folder is its own: what an earlier scan of it left goes, snapshots too.
    stretchRun.earlier = EarlierSnapshots::Remove;
    // The record, written last while the folder is held: a stretch without one is not done.
    stretchRun.finish = [&](const RunReport& report, bool) -> std::string {
        if (!report.inexact.empty()) {
            record.inexact = report.inexact;
        } else if (report.status != RunReport::Status::Finished || report.snapshotsLost > 0) {
            return std::string();
        } else if (run.stretch.last >= 0 && report.lastFrame != run.stretch.last) {
            record.inexact =
                formatText("the video ends at frame %lld, before the stretch's last, %lld",
                           report.lastFrame, run.stretch.last);
        }
        if (!collector.error().empty()) {
            return cannotRecord(report.outputDir, collector.error());
        }
        record.firstFrame = report.firstFrame;
        record.lastFrame = report.lastFrame;
        record.firstMs = report.firstMs;
        record.lastMs = report.lastMs;
        record.toEnd = run.stretch.last < 0;
        record.framesRead = report.framesRead;
        std::string error;
        if (record.inexact.empty() && !detector.reference().empty()) {
            error = writeReferenceImage(joinPath(report.outputDir, kSegmentReferenceName),
                                        detector.reference());
        }
        if (error.empty()) {
            error = digestSegmentFiles(report.outputDir, record);
        }
        if (error.empty()) {
            error = writeSegmentRecord(report.outputDir, record);
        }
        if (!error.empty()) {
            return cannotRecord(report.outputDir, error);
        }
        scan.recorded = true;
        return std::string();
    };
    scan.report = runVideo(detector, stretchRun, host).report;
    // The run stops where frames can no longer be told by index, a stretch that starts past the
    // video's real end before its first: nothing interrupted it, and its record is all a join
    // needs to scan the video as one run.
    if (!scan.report.inexact.empty() && scan.report.status == RunReport::Status::Stopped) {
        scan.report.status = RunReport::Status::Finished;
    }
    scan.inexact = record.inexact;
    return scan;
}

}  // namespace pelmora
