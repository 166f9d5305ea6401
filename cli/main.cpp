// pelmora-scan: the detection run without a window, for batch work and machines without a
// display.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ConsoleRunHost.h"
#include "DetectionRun.h"
#include "FrameDetector.h"
#include "LibraryDiagnostics.h"
#include "ScanOptions.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

// A destination that was asked for is made with its parents. Not fatal when that fails: the
// snapshots that cannot be written are reported and counted.
void createDirectory(const std::string& directory) {
    if (directory.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) {
        std::fprintf(stderr, "Cannot create %s: %s\n", directory.c_str(), error.message().c_str());
    }
}

void printSummary(const std::string& video, const pelmora::RunReport& report, double seconds) {
    if (report.status == pelmora::RunReport::Status::OpenFailed) {
        std::printf("%s: not opened\n", video.c_str());
    } else {
        const double rate = seconds > 0.0 ? static_cast<double>(report.framesRead) / seconds : 0.0;
        std::printf("%s: %lld frames, %lld written, %lld lost, %.2f s, %.1f frames/s%s\n",
                    video.c_str(), report.framesRead, report.snapshotsWritten, report.snapshotsLost,
                    seconds, rate,
                    report.status == pelmora::RunReport::Status::Stopped ? ", interrupted" : "");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedOptions parsed = parseScanOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "pelmora-scan: %s\n%s", parsed.error.c_str(), scanUsage());
        return kExitUsage;
    }
    const ScanOptions& options = parsed.options;
    if (options.help) {
        std::fputs(scanUsage(), stdout);
        return kExitDone;
    }
    if (options.version) {
        std::printf("pelmora-scan %s\n", PELMORA_VERSION);
        return kExitDone;
    }

    pelmora::silenceLibraryDiagnostics();
    installInterruptHandler();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const std::vector<std::string> directories = snapshotDirectories(options);
    int status = kExitDone;
    for (std::size_t i = 0; i < options.videos.size(); ++i) {
        const std::string& video = options.videos[i];
        createDirectory(directories[i]);
        // Every video is compared from black, whatever came before it.
        pelmora::FrameDetector detector;
        ConsoleRunHost host(interrupted, options.quiet, terminal);
        const pelmora::RunReport report = pelmora::runDetection(
            detector, {video, directories[i], options.threshold, false, options.jobs}, host);
        host.clearProgress();
        printSummary(video, report, host.secondsElapsed());
        if (report.status == pelmora::RunReport::Status::OpenFailed || report.snapshotsLost > 0) {
            status = kExitFailures;
        }
        if (interrupted) {
            return kExitInterrupted;
        }
    }
    return status;
}
