#include "SegmentCommands.h"

#include <cstdio>

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
    const std::string folder =
        options.outputDir.empty() ? pelmora::VideoJob::derivedDirectory(video) : options.outputDir;
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
    const pelmora::SegmentSet segments = pelmora::readSegments(folder);
    if (!segments.error.empty()) {
        std::fprintf(stderr, "pelmora-scan: cannot join %s: %s\n", folder.c_str(),
                     segments.error.c_str());
        return kExitFailures;
    }
    const std::string video = segments.records.front().facts.videoPath;
    const nlohmann::json settings = resultSettings(options);
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::RunRecorder recorder(recordOptions(options), host);
    recorder.setStopCheck([&stopSignal] { return stopSignal != 0; });
    pelmora::JoinRequest request;
    request.run = scanRequest(options, video, folder);
    request.identity = segmentIdentity(video, settings);
    request.recorder = recorder.wanted() ? &recorder : nullptr;
    pelmora::FolderLock lock;
    pelmora::EarlierRun earlier;
    request.run.folderReady = [&](const std::string& dir) {
        return pelmora::readyFolder(dir, options.clean, lock, earlier, host);
    };
    const pelmora::JoinResult result = pelmora::joinSegments(segments, request, host);
    host.clearProgress();
    using Outcome = pelmora::JoinResult::Outcome;
    if (result.outcome == Outcome::Refused || result.outcome == Outcome::Failed) {
        std::fprintf(stderr, "pelmora-scan: cannot join %s: %s\n", folder.c_str(),
                     result.message.c_str());
        return exitStatus(true, stopSignal);
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
    const pelmora::RunReport& report = result.report;
    const bool recordFailed =
        !recorder.failed() && !RunRecord(video, settings).write(report, recorder.clipsLost());
    if (recordFailed) {
        std::fprintf(stderr, "Cannot write the record of %s in %s\n", video.c_str(),
                     folder.c_str());
    }
    bool failed = recorder.failed() || recordFailed;
    if (!failed) {
        for (const std::string& failure : pelmora::removeSegments(segments)) {
            std::fprintf(stderr, "Failed to remove %s\n", failure.c_str());
            failed = true;
        }
    }
    // What the split cost, for choosing the next N.
    std::fprintf(stderr, "Joined %zu %s of %s: %lld of %lld frames scanned again\n",
                 segments.records.size(), segments.records.size() == 1 ? "stretch" : "stretches",
                 video.c_str(), result.framesScannedAgain, report.framesRead);
    printSummary(options, VideoOutcome{video, report, host.secondsElapsed()});
    return exitStatus(failed, stopSignal);
}
