#include "SegmentJoin.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "FileOutput.h"
#include "FrameDetector.h"
#include "SnapshotNaming.h"
#include "TextFormat.h"

namespace fs = std::filesystem;

namespace pelmora {

namespace {

using Outcome = JoinResult::Outcome;

std::string nameOf(const SegmentRecord& record) {
    return formatText("%d/%d", record.index, record.count);
}

// Why the record is not of this video with these options, or nothing.
std::string identityMismatch(const SegmentRecord& record,
                             const std::vector<std::pair<std::string, std::string>>& wanted) {
    std::map<std::string, std::string> said(record.identity.begin(), record.identity.end());
    for (const auto& [name, value] : wanted) {
        const auto found = said.find(name);
        if (found == said.end()) {
            return "says nothing of " + name;
        }
        if (found->second != value) {
            return "was scanned with " + name + " " + found->second + ", not " + value;
        }
        said.erase(found);
    }
    if (!said.empty()) {
        return "was scanned with " + said.begin()->first + " " + said.begin()->second +
               ", which this scan does not know";
    }
    return std::string();
}

// Why the stretches do not follow one another frame for frame from the first frame to the
// end, or nothing.
std::string tilingGap(const std::vector<SegmentRecord>& records) {
    const double fps = records.front().facts.fps;
    const double frameMs = 1000.0 / fps;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const SegmentRecord& record = records[k];
        if (record.facts.fps != fps || record.facts.frameSize != records.front().facts.frameSize) {
            return "stretch " + nameOf(record) + " found another rate or frame size";
        }
        if (record.framesRead != record.lastFrame - record.firstFrame + 1 ||
            record.framesRead <= 0) {
            return "stretch " + nameOf(record) + " did not read its frames one by one";
        }
        if (record.toEnd != (k + 1 == records.size())) {
            return "stretch " + nameOf(record) +
                   (record.toEnd ? " read to the end of the video" : " ends before the video");
        }
        if (k == 0) {
            if (record.firstFrame != 0) {
                return formatText("the first stretch starts at frame %lld", record.firstFrame);
            }
            continue;
        }
        const SegmentRecord& before = records[k - 1];
        if (record.firstFrame != before.lastFrame + 1) {
            return formatText("stretch %s starts at frame %lld, not at %lld after the one before",
                              nameOf(record).c_str(), record.firstFrame, before.lastFrame + 1);
        }
        if (std::fabs(record.firstMs - before.lastMs - frameMs) > frameMs / 4.0) {
            return formatText(
                "stretch %s starts at %.3f ms, not one frame after the one before ends (%.3f ms)",
                nameOf(record).c_str(), record.firstMs, before.lastMs);
        }
    }
    return std::string();
}

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

}  // namespace

SegmentSet readSegments(const std::string& folder) {
    SegmentSet set;
    set.folder = folder;
    std::map<int, std::string> byIndex;
    std::set<int> counts;
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? std::string(".") : folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        int index = 0;
        int count = 0;
        std::error_code ignored;
        if (parseSegmentFolderName(it->path().filename().string(), index, count) &&
            it->is_directory(ignored) && !it->is_symlink(ignored)) {
            counts.insert(count);
            byIndex[index] = joinPath(folder, it->path().filename().string());
        }
    }
    if (error) {
        set.error = "cannot read " + folder + ": " + error.message();
        return set;
    }
    if (counts.empty()) {
        set.error = "there are no stretches in " + folder;
        return set;
    }
    if (counts.size() > 1) {
        set.error = formatText("%s holds stretches of %d and of %d parts", folder.c_str(),
                               *counts.begin(), *counts.rbegin());
        return set;
    }
    const int count = *counts.begin();
    for (int index = 0; index < count; ++index) {
        const auto found = byIndex.find(index);
        std::error_code missing;
        if (found == byIndex.end() ||
            !fs::exists(joinPath(found->second, kSegmentRecordName), missing)) {
            set.error = formatText(
                "stretch %d/%d has not finished: %s", index, count,
                found == byIndex.end()
                    ? "its folder is missing"
                    : ("there is no record " + joinPath(found->second, kSegmentRecordName))
                          .c_str());
            return set;
        }
        SegmentRecord record;
        std::string reason = readSegmentRecord(found->second, record);
        if (reason.empty()) {
            reason = checkSegmentFiles(found->second, record);
        }
        if (!reason.empty()) {
            set.error =
                formatText("stretch %d/%d cannot be joined: %s", index, count, reason.c_str());
            return set;
        }
        if (record.index != index || record.count != count) {
            set.error = found->second + " holds the record of stretch " + nameOf(record);
            return set;
        }
        set.folders.push_back(found->second);
        set.records.push_back(record);
    }
    return set;
}

namespace {

// The join itself, which keeps what it wrote into the snapshot folder so that a failure can
// take it back.
class Join {
public:
    Join(const SegmentSet& segments, const JoinRequest& request, RunHost& host)
        : segments(segments), request(request), host(host) {}

    ~Join() {
        if (!joined) {
            for (const std::string& path : written) {
                ::unlink(path.c_str());
            }
            for (const auto& [to, from] : moved) {
                std::rename(to.c_str(), from.c_str());
            }
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
        if (request.run.folderReady) {
            const std::string reason = request.run.folderReady(segments.folder);
            if (!reason.empty()) {
                return fail(Outcome::Failed,
                            "cannot save snapshots in " + segments.folder + ": " + reason);
            }
        }
        std::vector<StretchTruth> truths(records.size());
        // The one run's reference after the stretch before the one scanned again.
        cv::Mat reference;
        const std::string reason = readReferenceImage(
            joinPath(segments.folders.front(), kSegmentReferenceName), reference);
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
        run.outputDir = segments.folder;
        run.folderReady = {};
        run.observer = &collector;
        run.stretch = {record.firstFrame, record.toEnd ? -1 : record.lastFrame, true};
        run.endsAfterSnapshot = [&ownSnapshots](long long frame) {
            return ownSnapshots.count(frame) > 0;
        };
        const RunReport report = runDetection(detector, run, host);
        scannedAgain += report.framesRead;
        for (const SnapshotOutcome& snapshot : collector.snapshots) {
            written.push_back(joinPath(segments.folder, snapshot.file));
        }
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

    // Moves the snapshots that hold into the snapshot folder and tells the recorder the whole
    // run.
    JoinResult assemble(const std::vector<StretchTruth>& truths) {
        const std::vector<SegmentRecord>& records = segments.records;
        for (std::size_t k = 0; k < records.size(); ++k) {
            for (const SnapshotOutcome& snapshot : records[k].snapshots) {
                if (snapshot.frame < truths[k].ownFrom) {
                    continue;
                }
                const std::string from = joinPath(segments.folders[k], snapshot.file);
                const std::string to = joinPath(segments.folder, snapshot.file);
                if (std::rename(from.c_str(), to.c_str()) != 0) {
                    return fail(Outcome::Failed,
                                "cannot move " + from + " to " + to + ": " + systemError(errno));
                }
                moved.emplace_back(to, from);
            }
        }
        RunFacts facts = records.front().facts;
        facts.outputDir = segments.folder;
        if (request.recorder != nullptr) {
            request.recorder->runStarted(facts);
        }
        Replay replay(request.recorder);
        RunReport report;
        report.outputDir = segments.folder;
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
        if (request.recorder != nullptr) {
            request.recorder->runFinished(report);
        }
        host.progress(100);
        joined = true;
        JoinResult result;
        result.outcome = Outcome::Joined;
        result.report = report;
        result.framesScannedAgain = scannedAgain;
        return result;
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

    const SegmentSet& segments;
    const JoinRequest& request;
    RunHost& host;
    long long scannedAgain = 0;
    bool joined = false;
    std::vector<std::string> written;  // snapshots written anew into the snapshot folder
    std::vector<std::pair<std::string, std::string>> moved;  // (where to, where from)
};

}  // namespace

JoinResult joinSegments(const SegmentSet& segments, const JoinRequest& request, RunHost& host) {
    return Join(segments, request, host).run();
}

std::vector<std::string> removeSegments(const SegmentSet& segments) {
    std::vector<std::string> failures;
    for (const std::string& folder : segments.folders) {
        std::error_code error;
        fs::remove_all(folder, error);
        if (error) {
            failures.push_back(folder + ": " + error.message());
        }
    }
    return failures;
}

}  // namespace pelmora
