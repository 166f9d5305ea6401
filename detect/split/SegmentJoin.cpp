#include "SegmentJoin.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "FileDigest.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameDetector.h"
#include "RunFolder.h"
#include "TextFormat.h"
#include "VideoRun.h"
#include "VideoSource.h"
#include "VideoStart.h"

namespace fs = std::filesystem;

#include "JoinShared.h"

namespace pelmora {

using namespace joinshared;

namespace {

using Outcome = JoinResult::Outcome;

// Follows a run scanned again: its measures and snapshots, to stand for the stretch's own.
class AgainCollector : public RunObserver {
public:
    void runStarted(const RunFacts&) override {}
    void frameMeasured(const FrameMeasure& measure) override { frames.push_back(measure); }
    void snapshotDone(const SnapshotOutcome& snapshot) override { snapshots.push_back(snapshot); }
    void runFinished(const RunReport&) override {}

    std::vector<FrameMeasure> frames;
    std::vector<SnapshotOutcome> snapshots;
};

// What the one run found in one stretch: frames and snapshots scanned again up to a frame,
// then the stretch's own from the frame after it.
struct StretchTruth {
    std::vector<FrameMeasure> againFrames;
    std::vector<SnapshotOutcome> againSnapshots;
    long long ownFrom = 0;  // the first frame whose own results hold; past the end for none
};

// Tells the recorder a run's frames and snapshots in frame order, each snapshot after its
// frame's measure.
class Replay {
public:
    explicit Replay(RunObserver* recorder) : recorder(recorder) {}

    void frame(const FrameMeasure& measure) {
        if (recorder != nullptr) {
            recorder->frameMeasured(measure);
        }
    }
    void snapshot(const SnapshotOutcome& snapshot) {
        if (recorder != nullptr) {
            recorder->snapshotDone(snapshot);
        }
    }

private:
    RunObserver* recorder;
};

// The join itself, which removes what it made in the staging folder unless it went into the
// snapshot folder.
class Join {
public:
    Join(const SegmentSet& segments, const JoinRequest& request, RunHost& host)
        : segments(segments),
          request(request),
          host(host),
          staging(joinStagingFolder(segments.folder)) {}

    ~Join() {
        if (staged && !committed) {
            removeAll(staging);
        }
    }

    JoinResult run() {
        if (!segments.error.empty()) {
            return fail(Outcome::Refused, segments.error);
        }
        const std::vector<SegmentRecord>& records = segments.records;
        for (const SegmentRecord& record : records) {
            const std::string mismatch = identityMismatch(record, request.identity);
            if (!mismatch.empty()) {
                return fail(Outcome::Refused, "stretch " + nameOf(record) + " in " +
                                                  segments.folder + " " + mismatch);
            }
        }
        for (const SegmentRecord& record : records) {
            if (!record.inexact.empty()) {
                return fail(Outcome::OneRunNeeded,
                            "the frames of " + record.facts.videoPath +
                                " cannot be told exactly by stretch: " + record.inexact);
            }
            for (const SnapshotOutcome& snapshot : record.snapshots) {
                if (!snapshot.saved) {
                    return fail(Outcome::Refused,
                                "stretch " + nameOf(record) + " lost " + snapshot.file);
                }
            }
        }
        const std::string gap = tilingGap(records);
        if (!gap.empty()) {
            return fail(Outcome::OneRunNeeded, "the stretches do not tile the video: " + gap);
        }
        if (exists(joinPath(staging, kJoinReadyName))) {
            return fail(Outcome::Refused, "the files of a join stopped part-way wait in " +
                                              staging + " to be moved into place");
        }
        std::string reason = removeAll(staging);
        std::error_code error;
        if (reason.empty() && !fs::create_directory(staging, error)) {
            reason = "cannot make " + staging + ": " + error.message();
        }
        if (!reason.empty()) {
            return fail(Outcome::Failed, reason);
        }
        staged = true;
        std::vector<StretchTruth> truths(records.size());
        // The one run's reference after the stretch before the one scanned again.
        cv::Mat reference;
        reason = readReferenceImage(joinPath(segments.folders.front(), kSegmentReferenceName),
                                    reference);
        if (!reason.empty()) {
            return fail(Outcome::Failed, reason);
        }
        for (std::size_t k = 1; k < records.size(); ++k) {
            JoinResult result;
            if (!scanAgain(k, reference, truths[k], result)) {
                return result;
            }
        }
        return assemble(truths);
    }

private:
    JoinResult fail(Outcome outcome, const std::string& message) {
        JoinResult result;
        result.outcome = outcome;
        result.message = message;
        result.framesScannedAgain = scannedAgain;
        return result;
    }

    // Stretch k from its first frame against reference, the one run's there, until the two
    // runs meet; reference becomes the one run's at the stretch's last frame, for the next.
    bool scanAgain(std::size_t k, cv::Mat& reference, StretchTruth& truth, JoinResult& result) {
        const SegmentRecord& record = segments.records[k];
        std::set<long long> ownSnapshots;
        for (const SnapshotOutcome& snapshot : record.snapshots) {
            ownSnapshots.insert(snapshot.frame);
        }
        FrameDetector detector;
        detector.setReference(reference);
        AgainCollector collector;
        RunRequest run = request.run;
        run.videoPath = record.facts.videoPath;
        run.outputDir = staging;
        run.folderReady = {};
        run.observer = &collector;
        run.stretch = {record.firstFrame, record.toEnd ? -1 : record.lastFrame, true};
        run.endsAfterSnapshot = [&ownSnapshots](long long frame) {
            return ownSnapshots.count(frame) > 0;
        };
        const RunReport report = runDetection(detector, run, host);
        scannedAgain += report.framesRead;
        if (!report.inexact.empty()) {
            result = fail(Outcome::OneRunNeeded,
                          "scanning stretch " + nameOf(record) + " again: " + report.inexact);
            return false;
        }
        if (report.status != RunReport::Status::Finished || report.snapshotsLost > 0) {
            result = fail(Outcome::Failed,
                          report.status == RunReport::Status::Stopped
                              ? "stopped while scanning stretch " + nameOf(record) + " again"
                              : "scanning stretch " + nameOf(record) + " again failed");
            return false;
        }
        if (!report.endedAtSnapshot && report.lastFrame != record.lastFrame) {
            result = fail(Outcome::OneRunNeeded,
                          formatText("stretch %s ends at frame %lld scanned again, not at %lld",
                                     nameOf(record).c_str(), report.lastFrame, record.lastFrame));
            return false;
        }
        truth.againFrames = std::move(collector.frames);
        truth.againSnapshots = std::move(collector.snapshots);
        if (!report.endedAtSnapshot) {
            // Scanned again to the end: the detector holds the one run's reference there.
            truth.ownFrom = record.lastFrame + 1;
            reference = detector.reference().clone();
            return true;
        }
        // Met at the snapshot of a frame both took, which became both references; the same
        // frames follow, so the stretch's own reference at its end is the one run's, wherever
        // in the stretch they met, its last frame too.
        truth.ownFrom = report.lastFrame + 1;
        const std::string reason =
            readReferenceImage(joinPath(segments.folders[k], kSegmentReferenceName), reference);
        if (!reason.empty()) {
            result = fail(Outcome::Failed, reason);
            return false;
        }
        return true;
    }

    // Puts the stretches' own snapshots that hold beside those scanned again, tells the
    // recorder the whole run, and moves it all into the snapshot folder.
    JoinResult assemble(const std::vector<StretchTruth>& truths) {
        const std::vector<SegmentRecord>& records = segments.records;
        for (std::size_t k = 0; k < records.size(); ++k) {
            for (const SnapshotOutcome& snapshot : records[k].snapshots) {
                if (snapshot.frame < truths[k].ownFrom) {
                    continue;
                }
                const std::string reason = linkOwn(joinPath(segments.folders[k], snapshot.file),
                                                   joinPath(staging, snapshot.file));
                if (!reason.empty()) {
                    return fail(Outcome::Failed, reason);
                }
            }
        }
        RunFacts facts = records.front().facts;
        facts.outputDir = staging;
        // The stretches keep no clock: the start is decided again, as the one run would.
        {
            VideoSource source;
            facts.start = decideStart(
                facts.videoPath,
                source.open(facts.videoPath, 1).empty() ? source.creationTime() : std::string(),
                request.run.start);
        }
        if (request.recorder != nullptr) {
            request.recorder->runStarted(facts);
        }
        Replay replay(request.recorder);
        RunReport report;
        report.outputDir = staging;
        report.framesAnnounced = std::max(facts.framesAnnounced, 0LL);
        for (std::size_t k = 0; k < records.size(); ++k) {
            const StretchTruth& truth = truths[k];
            std::size_t next = 0;
            for (const FrameMeasure& measure : truth.againFrames) {
                replay.frame(measure);
                for (; next < truth.againSnapshots.size() &&
                       truth.againSnapshots[next].frame == measure.frame;
                     ++next) {
                    replay.snapshot(truth.againSnapshots[next]);
                    ++report.snapshotsWritten;
                }
            }
            const std::string reason = replayOwn(k, truth.ownFrom, replay, report);
            if (!reason.empty()) {
                return fail(Outcome::Failed, reason);
            }
        }
        const SegmentRecord& last = records.back();
        report.framesRead = last.lastFrame + 1;
        report.firstFrame = 0;
        report.firstMs = records.front().firstMs;
        report.lastFrame = last.lastFrame;
        report.lastMs = last.lastMs;
        report.start = facts.start;
        report.spanMs =
            last.lastMs + (usableFrameRate(facts.fps) ? std::llround(1000.0 / facts.fps) : 0);
        if (request.recorder != nullptr) {
            request.recorder->runFinished(report);
        }
        if (request.staged) {
            const std::string reason = request.staged(report);
            if (!reason.empty()) {
                return fail(Outcome::Failed, reason);
            }
        }
        const std::string reason = commit();
        if (!reason.empty()) {
            return fail(Outcome::Failed, reason);
        }
        host.progress(100);
        JoinResult result;
        result.outcome = Outcome::Joined;
        result.report = report;
        result.report.outputDir = segments.folder;
        result.framesScannedAgain = scannedAgain;
        result.leftovers = leftovers;
        return result;
    }

    // The snapshot in the stretch's folder, under the staging folder's name too, the stretch's
    // folder staying whole until the join is done; a copy where the file system links no files.
    static std::string linkOwn(const std::string& from, const std::string& to) {
        if (::link(from.c_str(), to.c_str()) == 0) {
            return std::string();
        }
        std::error_code error;
        if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, error)) {
            return "cannot put " + from + " into " + to + ": " + error.message();
        }
        return std::string();
    }

    // Stretch k's own measures and snapshots from frame from on.
    std::string replayOwn(std::size_t k, long long from, Replay& replay, RunReport& report) {
        const SegmentRecord& record = segments.records[k];
        if (from > record.lastFrame) {
            return std::string();
        }
        SegmentFrames frames;
        const std::string path = joinPath(segments.folders[k], kSegmentFramesName);
        std::string reason = frames.openForReading(path);
        if (!reason.empty()) {
            return "cannot read " + path + ": " + reason;
        }
        std::size_t next = 0;
        FrameMeasure measure;
        for (long long frame = record.firstFrame; frame <= record.lastFrame; ++frame) {
            if (!frames.next(frame, measure)) {
                return path + " ends early";
            }
            if (frame < from) {
                continue;
            }
            replay.frame(measure);
            for (; next < record.snapshots.size() && record.snapshots[next].frame <= frame;
                 ++next) {
                if (record.snapshots[next].frame == frame) {
                    replay.snapshot(record.snapshots[next]);
                    ++report.snapshotsWritten;
                }
            }
        }
        return std::string();
    }

    // Clears what an earlier run left in the snapshot folder and moves the staged files in,
    // all or none; then the stretches go. Returns why the files did not go in, or nothing.
    std::string commit() {
        const std::string& folder = segments.folder;
        const EarlierRunRemoval removal = removeEarlierRun(folder, request.removeEarlierSnapshots);
        if (!removal.error.empty()) {
            return "cannot read " + folder + ": " + removal.error;
        }
        if (!removal.failures.empty()) {
            return "cannot remove the files of an earlier run: " + removal.failures.front();
        }
        ReadyList list;
        std::string reason;
        list.files = stagedFiles(staging, reason);
        for (const std::string& stretch : segments.folders) {
            list.stretches.push_back(
                {fs::path(stretch).filename().string(), recordDigest(stretch)});
        }
        if (reason.empty()) {
            reason = writeReadyList(staging, list);
        }
        if (!reason.empty()) {
            return reason;
        }
        std::vector<std::string> moved;
        reason = moveIn(folder, list.files, &host, &moved);
        if (!reason.empty()) {
            for (auto name = moved.rbegin(); name != moved.rend(); ++name) {
                std::rename(joinPath(folder, *name).c_str(), joinPath(staging, *name).c_str());
            }
            return reason;
        }
        committed = true;
        leftovers = clearAfterJoin(folder, list.stretches);
        return std::string();
    }

    const SegmentSet& segments;
    const JoinRequest& request;
    RunHost& host;
    const std::string staging;
    long long scannedAgain = 0;
    bool staged = false;     // the staging folder was made
    bool committed = false;  // its files went into the snapshot folder
    std::vector<std::string> leftovers;
};

}  // namespace

JoinResult joinSegments(const SegmentSet& segments, const JoinRequest& request, RunHost& host) {
    return Join(segments, request, host).run();
}

}  // namespace pelmora
