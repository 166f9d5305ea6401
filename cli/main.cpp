// pelmora-scan: the detection run without a window, for batch work and machines without a
// display.

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "ConsoleRunHost.h"
#include "DetectionRun.h"
#include "FrameDetector.h"
#include "LibraryDiagnostics.h"
#include "RunRecord.h"
#include "RunRecorder.h"
#include "ScanOptions.h"
#include "ScanSummary.h"
#include "VideoBatch.h"
#include "VideoJob.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

// The number of the signal that asked the scan to stop, or 0.
volatile std::sig_atomic_t stopSignal = 0;

void onStopSignal(int signal) {
    stopSignal = signal;
}

// Ctrl-C, and what timeout, systemd and container stops send, or a closed terminal: each stops
// after the current frame, and the snapshots taken so far are finished and summed up.
void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

// The videos given and listed; false with a message when the list cannot be read.
bool gatherVideos(const ScanOptions& options, std::vector<std::string>& videos) {
    videos = options.videos;
    if (options.listFile.empty()) {
        return true;
    }
    std::ifstream file;
    if (options.listFile != "-") {
        file.open(options.listFile);
        if (!file) {
            std::fprintf(stderr, "pelmora-scan: cannot read the list %s: %s\n",
                         options.listFile.c_str(), std::strerror(errno));
            return false;
        }
    }
    const std::vector<std::string> listed =
        readVideoList(options.listFile == "-" ? std::cin : file);
    videos.insert(videos.end(), listed.begin(), listed.end());
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedOptions parsed = parseScanOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        // One line on what is wrong, as other command-line tools do, rather than the whole
        // help after it.
        std::fprintf(stderr, "pelmora-scan: %s\nTry 'pelmora-scan --help' for more information.\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const ScanOptions& options = parsed.options;
    if (options.help) {
        std::fputs(scanUsage().c_str(), stdout);
        return kExitDone;
    }
    if (options.version) {
        std::fputs(versionText().c_str(), stdout);
        return kExitDone;
    }

    std::vector<std::string> given;
    if (!gatherVideos(options, given)) {
        return kExitUsage;
    }
    std::vector<std::string> emptyFolders;
    const std::vector<BatchEntry> batch =
        planBatch(expandFolders(given, emptyFolders), options.outputDir, options.shard);
    for (const std::string& folder : emptyFolders) {
        std::fprintf(stderr, "No video files in %s\n", folder.c_str());
    }

    pelmora::setLibraryDiagnostics(options.verbose);
    installStopHandlers();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const nlohmann::json settings = resultSettings(options);
    int status = kExitDone;
    const auto batchStart = std::chrono::steady_clock::now();
    BatchTotal total;
    total.videos = static_cast<int>(batch.size());
    const auto sumUp = [&] {
        if (batch.size() > 1) {
            const std::chrono::duration<double> seconds =
                std::chrono::steady_clock::now() - batchStart;
            std::fputs(batchTotalLine(total, seconds.count()).c_str(), stderr);
        }
    };
    for (const BatchEntry& entry : batch) {
        const std::string folder = entry.outputDir.empty()
                                       ? pelmora::VideoJob::derivedDirectory(entry.video)
                                       : entry.outputDir;
        const RunRecord record(entry.video, settings);
        if (options.resume) {
            if (const auto done = record.findDone(folder)) {
                const VideoOutcome skipped{entry.video, *done, 0.0, true};
                total.add(skipped);
                std::fputs(summaryLine(options.summary, skipped).c_str(), stdout);
                std::fflush(stdout);
                continue;
            }
        }
        // A record stands only for a run that finished since; with --resume, nothing of an
        // earlier, unfinished run is mixed with the new one either.
        if (options.resume) {
            RunRecord::clearUnfinished(folder);
        } else {
            RunRecord::forget(folder);
        }
        // Every video is compared from black, whatever came before it.
        pelmora::FrameDetector detector;
        ConsoleRunHost host(stopSignal, options.quiet, terminal);
        pelmora::RunRecorder recorder(recordOptions(options), host);
        // Cutting the clips of a long video takes a while; a stop ends it too.
        recorder.setStopCheck([] { return stopSignal != 0; });
        const pelmora::RunReport report = pelmora::runDetection(
            detector, runRequest(options, entry.video, entry.outputDir, recorder), host);
        host.clearProgress();
        if (report.status == pelmora::RunReport::Status::Finished &&
            !record.write(report, recorder.clipsLost())) {
            std::fprintf(stderr, "Cannot write the record of %s in %s\n", entry.video.c_str(),
                         report.outputDir.c_str());
        }
        const VideoOutcome outcome{entry.video, report, host.secondsElapsed()};
        total.add(outcome);
        std::fputs(summaryLine(options.summary, outcome).c_str(), stdout);
        std::fflush(stdout);
        if (report.status == pelmora::RunReport::Status::OpenFailed ||
            report.status == pelmora::RunReport::Status::OutputUnusable ||
            report.snapshotsLost > 0 || recorder.failed()) {
            status = kExitFailures;
        }
        if (stopSignal != 0) {
            sumUp();
            return 128 + stopSignal;
        }
    }
    sumUp();
    return status;
}
