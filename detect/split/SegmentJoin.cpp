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

namespace pelmora {

namespace {

using Outcome = JoinResult::Outcome;

// The staging folder's ready list (kJoinReadyName) is written once the one run's files are all
// there: what goes where. While it is there, the join has begun to move its files into the
// snapshot folder, and one stopped part-way is finished rather than started again.

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

// Whether path is a folder of its own, not a link to one.
bool isFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Removes path and everything below it; "PATH: REASON" when it stays, else nothing.
std::string removeAll(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
    return error ? path + ": " + error.message() : std::string();
}

// The files made in the staging folder, in the order they go into the snapshot folder: the
// snapshots and clips, then the lists and the report, and the record last, which says that
// the folder is complete.
std::vector<std::string> stagedFiles(const std::string& staging, std::string& error) {
    std::vector<std::string> files;
    std::vector<std::string> runFiles;
    std::error_code failure;
    fs::directory_iterator it(staging, failure);
    for (const fs::directory_iterator end; !failure && it != end; it.increment(failure)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name == kJoinReadyName || !it->is_regular_file(ignored) || it->is_symlink(ignored)) {
            continue;
        }
        (isRunFileName(name) ? runFiles : files).push_back(name);
    }
    if (failure) {
        error = "cannot read " + staging + ": " + failure.message();
        return {};
    }
    std::sort(files.begin(), files.end());
    std::sort(runFiles.begin(), runFiles.end(), [](const std::string& a, const std::string& b) {
        return std::make_pair(a == kRunRecordName, a) < std::make_pair(b == kRunRecordName, b);
    });
    files.insert(files.end(), runFiles.begin(), runFiles.end());
    return files;
}

// A name of a file in the folder itself, not a path elsewhere.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// A stretch's folder by name, with the checksum of the record it held when it was joined.
struct JoinedStretch {
    std::string name;
    std::string record;
};

// What the ready file says: the files to move, in order, and the stretches' folders to remove
// once they are in place.
struct ReadyList {
    std::vector<std::string> files;
    std::vector<JoinedStretch> stretches;
};

std::string writeReadyList(const std::string& staging, const ReadyList& list) {
    std::string text;
    for (const std::string& name : list.files) {
        text += "file " + name + "\n";
    }
    for (const JoinedStretch& stretch : list.stretches) {
        text += "stretch " + stretch.record + " " + stretch.name + "\n";
    }
    text += "end\n";
    return replaceFile(joinPath(staging, kJoinReadyName), text.data(), text.size());
}

std::string readReadyList(const std::string& staging, ReadyList& list) {
    const std::string path = joinPath(staging, kJoinReadyName);
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "file ") == 0 && isPlainName(line.substr(5))) {
            list.files.push_back(line.substr(5));
        } else if (line.compare(0, 8, "stretch ") == 0) {
            const std::string::size_type gap = line.find(' ', 8);
            JoinedStretch stretch{line.substr(gap + 1), line.substr(8, gap - 8)};
            int index = 0;
            int count = 0;
            if (gap == std::string::npos || !parseSegmentFolderName(stretch.name, index, count)) {
                break;
            }
            list.stretches.push_back(stretch);
        } else if (line == "end") {
            return std::string();
        } else {
            break;
        }
    }
    return path + " is damaged";
}

// Moves the files from the staging folder into the snapshot folder in order, telling host (when
// given) how far it got, since a long video's snapshots are many; those no longer in the
// staging folder went before. Returns why one cannot go, or nothing; moved, when given, gets
// each file moved.
std::string moveIn(const std::string& folder, const std::vector<std::string>& files, RunHost* host,
                   std::vector<std::string>* moved) {
    const std::string staging = joinStagingFolder(folder);
    int shown = -1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string from = joinPath(staging, files[i]);
        const std::string to = joinPath(folder, files[i]);
        const int error = std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
        if (error == 0) {
            if (moved != nullptr) {
                moved->push_back(files[i]);
            }
        } else if (error != ENOENT || exists(from)) {
            return "cannot move " + from + " to " + to + ": " + systemError(error);
        }
        const int percent =
            progressPercent(static_cast<long long>(i) + 1, static_cast<long long>(files.size()));
        if (host != nullptr && percent != shown) {
            host->progress(shown = percent);
        }
    }
    return std::string();
}

// The checksum of the record in a stretch's folder; empty when it cannot be read.
std::string recordDigest(const std::string& stretch) {
    std::string digest;
    fileDigest(joinPath(stretch, kSegmentRecordName), digest);
    return digest;
}

// Once the files are in place: the stretches' folders, then the staging folder and the ready
// list in it, which go last so that a join stopped before is finished; what stayed. A folder
// that holds another record than the one joined, scanned there since, is another stretch's.
std::vector<std::string> clearAfterJoin(const std::string& folder,
                                        const std::vector<JoinedStretch>& stretches) {
    std::vector<std::string> leftovers;
    for (const JoinedStretch& stretch : stretches) {
        const std::string path = joinPath(folder, stretch.name);
        const std::string record = recordDigest(path);
        if (!record.empty() && record != stretch.record) {
            continue;
        }
        const std::string reason = removeAll(path);
        if (!reason.empty()) {
            leftovers.push_back(reason);
        }
    }
    if (leftovers.empty()) {
        const std::string reason = removeAll(joinStagingFolder(folder));
        if (!reason.empty()) {
            leftovers.push_back(reason);
        }
    }
    return leftovers;
}

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
        set.none = true;
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
        if (found == byIndex.end() || !exists(joinPath(found->second, kSegmentRecordName))) {
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

std::string joinStagingFolder(const std::string& folder) {
    return joinPath(folder, kJoinStagingName);
}

StagedHost::StagedHost(RunHost& host, const std::string& folder)
    : host(host), staged(joinPath(joinStagingFolder(folder), "")), shown(joinPath(folder, "")) {}

void StagedHost::write(LogKind kind, const std::string& line) {
    std::string text = line;
    for (std::string::size_type at = text.find(staged); at != std::string::npos;
         at = text.find(staged, at + shown.size())) {
        text.replace(at, staged.size(), shown);
    }
    host.write(kind, text);
}

namespace {

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
            std::string reason;
            facts.start = decideStart(
                facts.videoPath,
                source.open(facts.videoPath, reason, 1) ? source.creationTime() : std::string(),
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

StoppedJoin finishStoppedJoin(const std::string& folder) {
    StoppedJoin stopped;
    const std::string staging = joinStagingFolder(folder);
    if (!isFolder(staging)) {
        return stopped;
    }
    if (!exists(joinPath(staging, kJoinReadyName))) {
        const std::string reason = removeAll(staging);
        stopped.outcome =
            reason.empty() ? StoppedJoin::Outcome::Discarded : StoppedJoin::Outcome::Failed;
        stopped.message = reason.empty() ? std::string() : "cannot remove " + reason;
        return stopped;
    }
    ReadyList list;
    std::string reason = readReadyList(staging, list);
    if (reason.empty()) {
        reason = moveIn(folder, list.files, nullptr, nullptr);
    }
    if (!reason.empty()) {
        stopped.outcome = StoppedJoin::Outcome::Failed;
        stopped.message = reason;
        return stopped;
    }
    stopped.outcome = StoppedJoin::Outcome::Finished;
    stopped.leftovers = clearAfterJoin(folder, list.stretches);
    return stopped;
}

std::vector<std::string> removeSegments(const SegmentSet& segments) {
    std::vector<std::string> failures;
    for (const std::string& folder : segments.folders) {
        const std::string reason = removeAll(folder);
        if (!reason.empty()) {
            failures.push_back(reason);
        }
    }
    return failures;
}

}  // namespace pelmora

namespace pelmora {

namespace {

// "PATH: REASON" lines of what could not be taken away, each said; whether there was any.
bool tellLeftovers(const std::vector<std::string>& leftovers, RunLog& log) {
    for (const std::string& leftover : leftovers) {
        log.write(LogKind::Failure, "Failed to remove " + leftover + "\n");
    }
    return !leftovers.empty();
}

}  // namespace

JoinFolderResult joinFolder(const JoinFolderRequest& request, RunHost& host) {
    const std::string& folder = request.folder;
    JoinFolderResult result;
    const auto refuse = [&result](const std::string& reason) {
        result.outcome = JoinFolderResult::Outcome::Refused;
        result.reason = reason;
        result.failed = true;
        return result;
    };
    // Two joins of one folder would each take the other's files for a stopped join's.
    FolderLock lock;
    const std::string busy = lock.acquire(folder);
    if (!busy.empty()) {
        return refuse(busy);
    }
    const StoppedJoin stopped = finishStoppedJoin(folder);
    if (stopped.outcome == StoppedJoin::Outcome::Failed) {
        return refuse("a join stopped part-way cannot be finished: " + stopped.message);
    }
    result.failed = tellLeftovers(stopped.leftovers, host);
    if (stopped.outcome == StoppedJoin::Outcome::Finished) {
        host.write(LogKind::Warning, "Finished the join into " + folder +
                                         " that stopped while its files were moved into place\n");
    }
    const SegmentSet segments = readSegments(folder);
    if (segments.none && request.doneBefore) {
        if (const auto done = request.doneBefore(folder)) {
            host.write(
                LogKind::Warning,
                folder + " is already joined: it holds one run's files of " + done->first + "\n");
            result.outcome = JoinFolderResult::Outcome::AlreadyJoined;
            result.video = done->first;
            result.report = done->second;
            return result;
        }
    }
    if (!segments.error.empty()) {
        return refuse(segments.error);
    }
    result.video = segments.records.front().facts.videoPath;
    result.stretches = segments.records.size();
    const std::string& video = result.video;
    EarlierRun earlier = findEarlierRun(folder);
    if (!earlier.error.empty()) {
        return refuse("cannot read " + folder + ": " + earlier.error);
    }

    // Lines name the files where they end up.
    StagedHost staged(host, folder);
    RunRecorder recorder(request.records, staged);
    if (request.stopRequested) {
        recorder.setStopCheck(request.stopRequested);
    }
    JoinRequest join;
    join.run = request.run;
    join.run.videoPath = video;
    join.run.outputDir = folder;
    if (request.identity) {
        join.identity = request.identity(video);
    }
    join.recorder = recorder.wanted() ? &recorder : nullptr;
    join.removeEarlierSnapshots = request.removeEarlierSnapshots;
    join.staged = [&](const RunReport& report) -> std::string {
        RunReport settled = report;
        recorder.settle(settled);
        if ((request.stopRequested && request.stopRequested()) ||
            settled.status == RunReport::Status::Stopped) {
            return "stopped before its files were complete";
        }
        if (recorder.listsFailed()) {
            return "the lists or the report could not be written";
        }
        // As after one run: no record of a run that lost a clip, so that it is done again.
        const bool complete = !recorder.failed() && report.snapshotsLost == 0;
        return request.finish ? request.finish(video, report, complete) : std::string();
    };
    const JoinResult joined = joinSegments(segments, join, staged);
    if (joined.outcome == JoinResult::Outcome::Refused ||
        joined.outcome == JoinResult::Outcome::Failed) {
        return refuse(joined.message);
    }
    if (joined.outcome == JoinResult::Outcome::OneRunNeeded) {
        host.write(LogKind::Warning, joined.message + ": scanning " + video + " as one run\n");
        lock.release();
        VideoRunRequest whole;
        whole.run = join.run;
        whole.records = request.records;
        whole.earlier =
            request.removeEarlierSnapshots ? EarlierSnapshots::Remove : EarlierSnapshots::Keep;
        whole.stopRequested = request.stopRequested;
        if (request.finish) {
            whole.finish = [&](const RunReport& report, bool complete) {
                return request.finish(video, report, complete);
            };
        }
        FrameDetector detector;
        const VideoRunResult scanned = runVideo(detector, whole, host);
        result.outcome = JoinFolderResult::Outcome::OneRun;
        result.report = scanned.report;
        const bool done = !scanned.failed && scanned.report.status == RunReport::Status::Finished;
        if (done) {
            removeSegments(segments);
        }
        result.failed = !done;
        return result;
    }
    tellEarlierSnapshots(folder, earlier, host);
    result.outcome = JoinFolderResult::Outcome::Joined;
    result.report = joined.report;
    result.framesScannedAgain = joined.framesScannedAgain;
    result.failed = tellLeftovers(joined.leftovers, host) || recorder.failed() || result.failed;
    // What the split cost, for choosing the next N.
    host.write(LogKind::Warning,
               formatText("Joined %zu %s of %s: %lld of %lld frames scanned again\n",
                          result.stretches, result.stretches == 1 ? "stretch" : "stretches",
                          video.c_str(), joined.framesScannedAgain, joined.report.framesRead));
    return result;
}

}  // namespace pelmora
