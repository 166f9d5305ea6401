// pelmora-scan: the detection run without a window, for batch work and machines without a
// display.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BatchOverview.h"
#include "BatchRun.h"
#include "LibraryDiagnostics.h"
#include "ScanOptions.h"
#include "ScanSummary.h"
#include "SearchCommand.h"
#include "SegmentCommands.h"
#include "StandardOutput.h"
#include "StopSignal.h"
#include "VideoBatch.h"
#include "VideoSource.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

StopSignal stopSignal{0};

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
    // A file-size limit (ulimit -f) then refuses a write as a full disk does, and the scan says
    // which file failed, instead of dying in the middle of one.
    std::signal(SIGXFSZ, SIG_IGN);
}

// Writes text to the standard output, all of it: a full disk or a closed pipe is a failure, said on
// the error stream, not a success with nothing to show.
int answer(const std::string& text) {
    if (const int error = putOutput(stdout, text)) {
        sayOutputLost(error);
        return kExitFailures;
    }
    return kExitDone;
}

// The videos given and listed; false with a message when the list cannot be read.
bool gatherVideos(const ScanOptions& options, std::vector<std::string>& videos) {
    videos = options.videos;
    if (options.listFile.empty()) {
        return true;
    }
    const bool standardInput = options.listFile == "-";
    const int fd =
        standardInput ? STDIN_FILENO : ::open(options.listFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "pelmora-scan: cannot read the list %s: %s\n",
                     options.listFile.c_str(), std::strerror(errno));
        return false;
    }
    const VideoList list = readVideoList(fd);
    if (!standardInput) {
        ::close(fd);
    }
    if (!list.error.empty()) {
        std::fprintf(stderr, "pelmora-scan: cannot read the list %s: %s\n",
                     options.listFile.c_str(), list.error.c_str());
        return false;
    }
    videos.insert(videos.end(), list.paths.begin(), list.paths.end());
    if (videos.empty()) {
        std::fprintf(stderr, "pelmora-scan: no video given: the list %s names none\n",
                     options.listFile.c_str());
        return false;
    }
    return true;
}

// Why the polygons cannot be drawn on one of the batch's videos, which would be refused at its
// turn, after others had written; empty when they fit every video that opens.
std::string regionsRefusal(const pelmora::RegionShapes& shapes,
                           const std::vector<BatchEntry>& batch) {
    for (const BatchEntry& entry : batch) {
        if (shapes.empty()) {
            break;
        }
        pelmora::VideoSource source;
        if (!source.open(entry.video, 1).empty()) {
            continue;  // said as its run opens it
        }
        const std::string reason = pelmora::regionsOutside(shapes, source.shownSize());
        if (!reason.empty()) {
            return entry.video + ": " + reason;
        }
    }
    return std::string();
}

}  // namespace

// overview.html of the batch whose -o folder is folder, from what its runs left there.
static int overviewCommand(const std::string& folder, const ScanOptions& options) {
    DayDigestWish digest;
    digest.beforeMs = options.clipBeforeMs;
    digest.afterMs = options.clipAfterMs;
    digest.stopRequested = [] { return stopSignal != 0; };
    const std::string reason =
        writeBatchOverview(folder, options.start.zoneOrMachine(),
                           options.digest ? &digest : nullptr, options.exports.json);
    if (!reason.empty()) {
        std::fprintf(stderr, "Cannot write the overview of %s: %s\n", folder.c_str(),
                     reason.c_str());
        return kExitFailures;
    }
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return digest.failed ? kExitFailures : kExitDone;
}

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
    if (!parsed.warning.empty() && !options.help && !options.version) {
        std::fprintf(stderr, "pelmora-scan: %s\n", parsed.warning.c_str());
    }
    if (options.help) {
        return answer(scanUsage());
    }
    if (options.version) {
        return answer(versionText());
    }

    if (!options.overviewFromFolder.empty()) {
        pelmora::setLibraryDiagnostics(options.verbose);
        installStopHandlers();
        return overviewCommand(options.overviewFromFolder, options);
    }
    if (!options.searchFolder.empty()) {
        pelmora::setLibraryDiagnostics(options.verbose);
        installStopHandlers();
        std::string answered;
        const int status =
            searchCommand(options, stopSignal, ::isatty(STDERR_FILENO) == 1, answered);
        // An overview of what the search found, of every camera on one clock.
        if (status == kExitDone && options.overview) {
            return overviewCommand(answered, options);
        }
        return status;
    }
    if (options.segment || !options.joinFolder.empty()) {
        pelmora::setLibraryDiagnostics(options.verbose);
        installStopHandlers();
        const bool terminal = ::isatty(STDERR_FILENO) == 1;
        return options.segment ? scanSegmentCommand(options, stopSignal, terminal)
                               : joinCommand(options, stopSignal, terminal);
    }

    std::vector<std::string> given;
    if (!gatherVideos(options, given)) {
        return kExitUsage;
    }
    std::vector<std::string> emptyFolders;
    std::vector<std::string> unreadable;
    const std::vector<BatchEntry> batch =
        planBatch(expandFolders(given, emptyFolders, unreadable), options.outputDir, options.shard);
    if (options.start.given && batch.size() > 1) {
        std::fprintf(stderr, "pelmora-scan: %s, not a folder of %zu\n", kOneStartTime,
                     batch.size());
        return kExitUsage;
    }
    if (const std::string refusal = regionsRefusal(options.watched.shapes(), batch);
        !refusal.empty()) {
        std::fprintf(stderr, "pelmora-scan: %s\n", refusal.c_str());
        return kExitUsage;
    }
    for (const std::string& folder : emptyFolders) {
        std::fprintf(stderr, "No video files in %s\n", folder.c_str());
    }
    // The videos in it would be missed without a word.
    for (const std::string& folder : unreadable) {
        std::fprintf(stderr, "Cannot read the folder %s\n", folder.c_str());
    }

    pelmora::setLibraryDiagnostics(options.verbose);
    installStopHandlers();
    const bool progressShown = ::isatty(STDERR_FILENO) == 1 && !options.quiet;
    const auto batchStart = std::chrono::steady_clock::now();
    const BatchResult result =
        runBatch(options, resultSettings(options), batch,
                 batchShares(std::thread::hardware_concurrency(), batch.size(),
                             options.videosAtOnce, options.jobs),
                 stopSignal, progressShown);
    if (batch.size() > 1) {
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - batchStart;
        std::fputs(batchTotalLine(result.total, seconds.count()).c_str(), stderr);
    }
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    if (result.outputError != 0) {
        sayOutputLost(result.outputError);
    }
    int status =
        unreadable.empty() && !result.failed && result.outputError == 0 ? kExitDone : kExitFailures;
    if (options.overview && batch.empty()) {
        std::fprintf(stderr, "No overview in %s: the batch holds no video\n",
                     options.outputDir.c_str());
        status = kExitFailures;
    } else if (options.overview && overviewCommand(options.outputDir, options) != kExitDone) {
        status = kExitFailures;
    }
    return status;
}
