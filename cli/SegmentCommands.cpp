#include "SegmentCommands.h"

#include <cstdio>
#include <optional>

#include "ConsoleRunHost.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "RunRecorder.h"
#include "SegmentJoin.h"
#include "SegmentScan.h"
#include "Version.h"
#include "VideoJob.h"
#include "VideoScan.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;

int exitStatus(bool failed, const volatile std::sig_atomic_t& stopSignal) {
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return failed ? kExitFailures : kExitDone;
}

std::string oneLine(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void printSummary(const ScanOptions& options, const VideoOutcome& outcome) {
    std::fputs(summaryLine(options.summary, outcome).c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> segmentIdentity(const std::string& video,
                                                                 const nlohmann::json& settings) {
    std::vector<std::pair<std::string, std::string>> identity;
    const nlohmann::json file = fileIdentity(video);
    if (file.is_null()) {
        identity.emplace_back("video", "null");
    } else {
        // The path first: of two files, it is what the message should name.
        for (const char* name : {"path", "path_bytes", "size", "modified_ns"}) {
            identity.emplace_back(std::string("video_") + name,
                                  oneLine(file.contains(name) ? file.at(name) : nlohmann::json()));
        }
    }
    for (const auto& [name, value] : settings.items()) {
        identity.emplace_back(name, oneLine(value));
    }
    identity.emplace_back("version", pelmora::kVersion);
    return identity;
}

int scanSegmentCommand(const ScanOptions& options, const volatile std::sig_atomic_t& stopSignal,
                       bool terminal) {
    const std::string& video = options.videos.front();
    const std::string folder = pelmora::VideoJob::snapshotFolder(video, options.outputDir);
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::SegmentRequest request;
    request.index = options.segment->index;
    request.count = options.segment->count;
    request.identity = segmentIdentity(video, resultSettings(options));
    request.run =
        scanRequest(options, video, pelmora::segmentFolder(folder, request.index, request.count));
    // The stretch's folder is its own: what an earlier scan of it left goes, snapshots too.
    pelmora::FolderLock lock;
    pelmora::EarlierRun earlier;
    request.run.folderReady = [&](const std::string& dir) {
        return pelmora::readyFolder(dir, true, lock, earlier, host);
    };
    const pelmora::SegmentScan scan = pelmora::scanSegment(request, host);
    host.clearProgress();
    if (!scan.inexact.empty()) {
        host.write(pelmora::LogKind::Warning, "Cannot split " + video +
                                                  " exactly: " + scan.inexact +
                                                  "; --join will scan it as one run\n");
    }
    if (!scan.recordError.empty()) {
        std::fprintf(stderr, "Cannot write the record of stretch %d/%d in %s: %s\n", request.index,
                     request.count, request.run.outputDir.c_str(), scan.recordError.c_str());
    }
    printSummary(options, VideoOutcome{video, scan.report, host.secondsElapsed()});
    const pelmora::RunReport::Status status = scan.report.status;
    const bool failed = !scan.recorded || status == pelmora::RunReport::Status::OpenFailed ||
                        status == pelmora::RunReport::Status::OutputUnusable ||
                        scan.report.snapshotsLost > 0;
    return exitStatus(failed, stopSignal);
}

int joinCommand(const ScanOptions& options, const volatile std::sig_atomic_t& stopSignal,
                bool terminal) {
    const std::string& folder = options.joinFolder;
    const auto refuse = [&](const std::string& reason) {
        std::fprintf(stderr, "pelmora-scan: cannot join %s: %s\n", folder.c_str(), reason.c_str());
        return exitStatus(true, stopSignal);
    };
    const auto tellLeftovers = [](const std::vector<std::string>& leftovers) {
        for (const std::string& leftover : leftovers) {
            std::fprintf(stderr, "Failed to remove %s\n", leftover.c_str());
        }
        return !leftovers.empty();
    };
    // Two joins of one folder would each take the other's files for a stopped join's.
    pelmora::FolderLock lock;
    const std::string busy = lock.acquire(folder);
    if (!busy.empty()) {
        return refuse(busy);
    }
    const nlohmann::json settings = resultSettings(options);
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    const pelmora::StoppedJoin stopped = pelmora::finishStoppedJoin(folder);
    using Stopped = pelmora::StoppedJoin::Outcome;
    if (stopped.outcome == Stopped::Failed) {
        return refuse("a join stopped part-way cannot be finished: " + stopped.message);
    }
    bool failed = tellLeftovers(stopped.leftovers);
    if (stopped.outcome == Stopped::Finished) {
        host.write(pelmora::LogKind::Warning,
                   "Finished the join into " + folder +
                       " that stopped while its files were moved into place\n");
    }
    const pelmora::SegmentSet segments = pelmora::readSegments(folder);
    if (segments.none) {
        const std::optional<std::string> video = RunRecord::recordedVideo(folder);
        const auto done = video ? RunRecord(*video, settings).findDone(folder) : std::nullopt;
        if (done) {
            host.write(pelmora::LogKind::Warning,
                       folder + " is already joined: it holds one run's files of " + *video + "\n");
            printSummary(options, VideoOutcome{*video, *done, 0.0, true});
            return exitStatus(failed, stopSignal);
        }
    }
    if (!segments.error.empty()) {
        return refuse(segments.error);
    }
    const std::string video = segments.records.front().facts.videoPath;
    pelmora::EarlierRun earlier = pelmora::findEarlierRun(folder);
    if (!earlier.error.empty()) {
        return refuse("cannot read " + folder + ": " + earlier.error);
    }
    // Lines name the files where they end up.
    pelmora::StagedHost staged(host, folder);
    pelmora::RunRecorder recorder(recordOptions(options), staged);
    recorder.setStopCheck([&stopSignal] { return stopSignal != 0; });
    pelmora::JoinRequest request;
    request.run = scanRequest(options, video, folder);
    request.identity = segmentIdentity(video, settings);
    request.recorder = recorder.wanted() ? &recorder : nullptr;
    request.removeEarlierSnapshots = options.clean;
    request.staged = [&](const pelmora::RunReport& report) -> std::string {
        pelmora::RunReport settled = report;
        recorder.settle(settled);
        if (stopSignal != 0 || settled.status == pelmora::RunReport::Status::Stopped) {
            return "stopped before its files were complete";
        }
        if (recorder.listsFailed()) {
            return "the lists or the report could not be written";
        }
        // As after one run: no record of a run that lost a clip, so that it is done again.
        if (!recorder.failed() && !RunRecord(video, settings).write(report)) {
            return "cannot write the record of " + video + " in " + report.outputDir;
        }
        return std::string();
    };
    const pelmora::JoinResult result = pelmora::joinSegments(segments, request, staged);
    host.clearProgress();
    using Outcome = pelmora::JoinResult::Outcome;
    if (result.outcome == Outcome::Refused || result.outcome == Outcome::Failed) {
        return refuse(result.message);
    }
    if (result.outcome == Outcome::OneRunNeeded) {
        host.write(pelmora::LogKind::Warning,
                   result.message + ": scanning " + video + " as one run\n");
        lock.release();
        const VideoScan scan = scanVideo(options, settings, {video, folder}, stopSignal, terminal);
        printSummary(options, scan.outcome);
        const bool done =
            !scan.failed && scan.outcome.report.status == pelmora::RunReport::Status::Finished;
        if (done) {
            pelmora::removeSegments(segments);
        }
        return exitStatus(!done, stopSignal);
    }
    pelmora::tellEarlierSnapshots(folder, earlier, host);
    failed = tellLeftovers(result.leftovers) || recorder.failed() || failed;
    const pelmora::RunReport& report = result.report;
    // What the split cost, for choosing the next N.
    std::fprintf(stderr, "Joined %zu %s of %s: %lld of %lld frames scanned again\n",
                 segments.records.size(), segments.records.size() == 1 ? "stretch" : "stretches",
                 video.c_str(), result.framesScannedAgain, report.framesRead);
    printSummary(options, VideoOutcome{video, report, host.secondsElapsed()});
    return exitStatus(failed, stopSignal);
}
