#include "VideoRun.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "DetectionRun.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameDetector.h"
#include "RecordListener.h"
#include "ReportPage.h"
#include "RunRecorder.h"
#include "SweepPage.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// Hands every call to the records and to a second observer, in that order, but for the end:
// the records' end cuts the clips, which may take long, and the other hears first that the
// frames are done.
class BothObservers : public RunObserver {
public:
    BothObservers(RunObserver& first, RunObserver& second) : first(first), second(second) {}

    void runStarted(const RunFacts& facts) override {
        first.runStarted(facts);
        second.runStarted(facts);
    }
    void frameMeasured(const FrameMeasure& measure) override {
        first.frameMeasured(measure);
        second.frameMeasured(measure);
    }
    void snapshotDone(const SnapshotOutcome& snapshot) override {
        first.snapshotDone(snapshot);
        second.snapshotDone(snapshot);
    }
    void runFinished(const RunReport& report) override {
        second.runFinished(report);
        first.runFinished(report);
    }

private:
    RunObserver& first;
    RunObserver& second;
};

// Keeps what a sweep's page says of the video, and hands the start and end on to the caller's
// observer, if there is one.
class SweepFacts : public RunObserver {
public:
    explicit SweepFacts(RunObserver* next) : next(next) {}

    void runStarted(const RunFacts& runFacts) override {
        facts = runFacts;
        if (next != nullptr) {
            next->runStarted(runFacts);
        }
    }
    void frameMeasured(const FrameMeasure&) override {}
    void snapshotDone(const SnapshotOutcome&) override {}
    void runFinished(const RunReport& report) override {
        if (next != nullptr) {
            next->runFinished(report);
        }
    }

    RunFacts facts;

private:
    RunObserver* next;
};

// Writes a file of the sweep into the folder; false, said as a failure, when it cannot.
bool writeSweepFile(const std::string& folder, const char* name, const std::string& text,
                    RunHost& host) {
    const std::string path = joinPath(folder, name);
    const std::string reason = replaceFile(path, text.data(), text.size());
    if (reason.empty()) {
        host.tell({MessageKind::FileSaved, path});
        return true;
    }
    host.tell({MessageKind::ListNotWritten, path, reason, name});
    return false;
}

VideoRunResult runSweep(FrameDetector& detector, const VideoRunRequest& request, RunHost& host) {
    const SweepRequest& sweep = *request.sweep;
    SettingSweep measure(sweep.settings, request.run.watched);
    SweepTally ownTally(sweep.settings, request.records.eventGapMs, sweep.moments);
    SweepTally& tally = sweep.tally != nullptr ? *sweep.tally : ownTally;
    SweepFacts facts(request.run.observer);
    RunRequest run = request.run;
    run.sweep = &measure;
    run.sweepObserver = &tally;
    run.observer = &facts;
    run.view = nullptr;
    run.intoFolder = sweep.intoFolder;
    // Held while the table is written, so that no other run clears the folder meanwhile; what
    // earlier runs left stays, since a sweep adds no snapshot to it.
    FolderLock lock;
    run.folderReady = [&lock](const std::string& dir) { return lock.acquire(dir); };

    VideoRunResult result;
    result.report = runDetection(detector, run, host);
    tally.finish();
    result.sweepRows = tally.rows();
    result.mostReferences = measure.mostReferences();
    const RunReport& report = result.report;
    using Status = RunReport::Status;
    bool written = true;
    // A sweep stopped or cut short still says what it found in the frames it read, as a run's
    // lists do.
    if (sweep.intoFolder && lock.held() && report.framesRead > 0) {
        const bool withMoments = !sweep.moments.empty();
        written = writeSweepFile(report.outputDir, kSweepTableName,
                                 sweepTableText(result.sweepRows, withMoments), host);
        if (request.records.report) {
            SweepPageContent content;
            content.facts = facts.facts;
            content.report = report;
            content.eventGapMs = request.records.eventGapMs;
            content.rows = result.sweepRows;
            content.moments = sweep.moments;
            content.mostReferences = result.mostReferences;
            content.madeAt = localTimeNow();
            written =
                writeSweepFile(report.outputDir, kSweepReportName, sweepPage(content), host) &&
                written;
        }
    }
    result.complete = report.status == Status::Finished && written;
    result.failed = report.status == Status::OpenFailed ||
                    report.status == Status::OutputUnusable || report.status == Status::Failed ||
                    !written;
    return result;
}

}  // namespace

VideoRunResult runVideo(FrameDetector& detector, const VideoRunRequest& request, RunHost& host) {
    if (request.sweep) {
        return runSweep(detector, request, host);
    }
    RunRecorder recorder(request.records, host);
    recorder.setListener(request.listener);
    if (request.stopRequested) {
        recorder.setStopCheck(request.stopRequested);
    }
    RunRequest run = request.run;
    std::optional<BothObservers> both;
    if (run.observer != nullptr) {
        both.emplace(recorder, *run.observer);
        run.observer = &*both;
    } else {
        run.observer = &recorder;
    }
    // Held until the record is written, so that no other run mixes its files in or clears the
    // folder before.
    FolderLock lock;
    EarlierRun earlier;
    run.folderReady = [&](const std::string& dir) {
        const std::string reason = readyFolder(dir, request.earlier, lock, earlier, host);
        // An earlier run's index would answer searches of this folder for that run.
        const std::string stale = joinPath(dir, kObjectIndexName);
        if (reason.empty() && std::remove(stale.c_str()) != 0 && errno != ENOENT) {
            return formatText("%s cannot be removed: %s", stale.c_str(), std::strerror(errno));
        }
        return reason;
    };

    // The objects detector's run of a whole video keeps every object its scene held, so that
    // later questions are answered without decoding again; a stretch's would hold a part.
    ObjectIndexWriter index;
    const bool indexed = run.detector == DetectorKind::Objects && run.question == nullptr &&
                         run.intoFolder && run.stretch.first == 0 && run.stretch.last < 0 &&
                         !run.times.given();
    if (indexed) {
        run.index = &index;
    }

    VideoRunResult result;
    result.report = runDetection(detector, run, host);
    RunReport& report = result.report;
    bool indexLost = false;
    if (indexed && index.begun() && report.status == RunReport::Status::Finished) {
        const std::string bytes = index.finish();
        const std::string path = joinPath(report.outputDir, kObjectIndexName);
        const std::string reason = replaceFile(path, bytes.data(), bytes.size());
        if (reason.empty()) {
            host.tell({MessageKind::FileSaved, path});
        } else {
            host.tell({MessageKind::ListNotWritten, path, reason, kObjectIndexName});
            indexLost = true;
        }
    }
    recorder.settle(report);
    result.clips = recorder.clips();
    result.clipsLost = recorder.clipsLost();
    result.earlierSnapshots = tellEarlierSnapshots(report.outputDir, earlier, host);

    using Status = RunReport::Status;
    result.complete = report.status == Status::Finished && report.snapshotsLost == 0 &&
                      !recorder.failed() && !indexLost;
    result.failed = report.status == Status::OpenFailed ||
                    report.status == Status::OutputUnusable || report.status == Status::Failed ||
                    report.snapshotsLost > 0 || recorder.failed() || indexLost;
    // A folder that never became the run's is not the caller's to finish.
    const bool folderHeld =
        report.status != Status::OpenFailed && report.status != Status::OutputUnusable;
    if (folderHeld && request.finish) {
        const std::string reason = request.finish(report, result.complete);
        if (!reason.empty()) {
            host.tell({MessageKind::RecordNotWritten, report.outputDir, reason});
            result.complete = false;
            result.failed = true;
        }
    }
    return result;
}

}  // namespace pelmora
