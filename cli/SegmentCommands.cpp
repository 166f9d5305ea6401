#include "SegmentCommands.h"

#include <cstdio>
#include <optional>

#include "ConsoleRunHost.h"
#include "RunRecord.h"
#include "SegmentJoin.h"
#include "SegmentScan.h"
#include "StandardOutput.h"
#include "Version.h"
#include "VideoJob.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;

int exitStatus(bool failed, const StopSignal& stopSignal) {
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return failed ? kExitFailures : kExitDone;
}

std::string oneLine(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Whether the summary reached the standard output; said on the error stream where not.
bool printSummary(const ScanOptions& options, const VideoOutcome& outcome) {
    if (const int error = putOutput(stdout, summaryLine(options.summary, outcome, options.quiet))) {
        sayOutputLost(error);
        return false;
    }
    return true;
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

int scanSegmentCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal) {
    const std::string& video = options.videos.front();
    const std::string folder = pelmora::VideoJob::snapshotFolder(video, options.outputDir);
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::SegmentRequest request;
    request.index = options.segment->index;
    request.count = options.segment->count;
    request.identity = segmentIdentity(video, resultSettings(options));
    request.run =
        scanRequest(options, video, pelmora::segmentFolder(folder, request.index, request.count));
    const pelmora::SegmentScan scan = pelmora::scanSegment(request, host);
    host.clearProgress();
    if (!scan.inexact.empty()) {
        host.tell({pelmora::MessageKind::NotSplitExactly, video, scan.inexact});
    }
    const bool summed =
        printSummary(options, VideoOutcome{video, scan.report, host.secondsElapsed()});
    const pelmora::RunReport::Status status = scan.report.status;
    const bool failed =
        !summed || !scan.recorded || status == pelmora::RunReport::Status::OpenFailed ||
        status == pelmora::RunReport::Status::OutputUnusable || scan.report.snapshotsLost > 0;
    return exitStatus(failed, stopSignal);
}

int joinCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal) {
    const nlohmann::json settings = resultSettings(options);
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::JoinFolderRequest request;
    request.folder = options.joinFolder;
    request.run = scanRequest(options, std::string(), options.joinFolder);
    request.records = recordOptions(options);
    request.removeEarlierSnapshots = options.clean;
    request.identity = [&settings](const std::string& video) {
        return segmentIdentity(video, settings);
    };
    request.doneBefore = [&settings](const std::string& folder)
        -> std::optional<std::pair<std::string, pelmora::RunReport>> {
        const std::optional<std::string> video = RunRecord::recordedVideo(folder);
        if (!video) {
            return std::nullopt;
        }
        const std::optional<pelmora::RunReport> done = RunRecord(*video, settings).findDone(folder);
        return done ? std::make_optional(std::make_pair(*video, *done)) : std::nullopt;
    };
    request.finish = [&settings](const std::string& video, const pelmora::RunReport& report,
                                 bool complete) {
        return !complete || RunRecord(video, settings).write(report)
                   ? std::string()
                   : "cannot write the record of " + video + " in " + report.outputDir;
    };
    request.stopRequested = [&stopSignal] { return stopSignal != 0; };
    const pelmora::JoinFolderResult result = pelmora::joinFolder(request, host);
    host.clearProgress();
    using Outcome = pelmora::JoinFolderResult::Outcome;
    if (result.outcome == Outcome::Refused) {
        std::fprintf(stderr, "pelmora-scan: cannot join %s: %s\n", request.folder.c_str(),
                     result.reason.c_str());
    } else {
        const bool skipped = result.outcome == Outcome::AlreadyJoined;
        if (!printSummary(options, VideoOutcome{result.video, result.report,
                                                skipped ? 0.0 : host.secondsElapsed(), skipped})) {
            return exitStatus(true, stopSignal);
        }
    }
    return exitStatus(result.failed, stopSignal);
}
