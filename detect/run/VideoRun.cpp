#include "VideoRun.h"

#include <cctype>
#include <optional>

#include "DetectionRun.h"
#include "FrameDetector.h"
#include "RecordListener.h"
#include "RunRecorder.h"

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

}  // namespace

VideoRunResult runVideo(FrameDetector& detector, const VideoRunRequest& request, RunHost& host) {
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
        return readyFolder(dir, request.earlier, lock, earlier, host);
    };

    VideoRunResult result;
    result.report = runDetection(detector, run, host);
    RunReport& report = result.report;
    recorder.settle(report);
    result.clips = recorder.clips();
    result.clipsLost = recorder.clipsLost();
    result.earlierSnapshots = tellEarlierSnapshots(report.outputDir, earlier, host);

    using Status = RunReport::Status;
    result.complete =
        report.status == Status::Finished && report.snapshotsLost == 0 && !recorder.failed();
    result.failed = report.status == Status::OpenFailed ||
                    report.status == Status::OutputUnusable || report.status == Status::Failed ||
                    report.snapshotsLost > 0 || recorder.failed();
    // A folder that never became the run's is not the caller's to finish.
    const bool folderHeld =
        report.status != Status::OpenFailed && report.status != Status::OutputUnusable;
    if (folderHeld && request.finish) {
        std::string reason = request.finish(report, result.complete);
        if (!reason.empty()) {
            // A reason, said as a sentence of its own.
            reason[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(reason[0])));
            host.write(LogKind::Failure, reason + "\n");
            result.complete = false;
            result.failed = true;
        }
    }
    return result;
}

}  // namespace pelmora
