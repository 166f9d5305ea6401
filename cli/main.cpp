// pelmora-scan: the detection run without a window, for batch work and machines without a
// display.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "ConsoleRunHost.h"
#include "DetectionRun.h"
#include "FrameDetector.h"
#include "LibraryDiagnostics.h"
#include "RunRecorder.h"
#include "ScanOptions.h"

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

void printSummary(const std::string& video, const pelmora::RunReport& report, double seconds) {
    using Status = pelmora::RunReport::Status;
    if (report.status == Status::OpenFailed) {
        std::printf("%s: not opened\n", video.c_str());
    } else if (report.status == Status::OutputUnusable) {
        std::printf("%s: not scanned, snapshots cannot be saved in %s\n", video.c_str(),
                    report.outputDir.c_str());
    } else {
        const double rate = seconds > 0.0 ? static_cast<double>(report.framesRead) / seconds : 0.0;
        std::printf("%s: %s, %lld written, %lld lost, %.2f s, %.1f frames/s%s\n", video.c_str(),
                    pelmora::framesText(report).c_str(), report.snapshotsWritten,
                    report.snapshotsLost, seconds, rate,
                    report.status == Status::Stopped ? ", interrupted" : "");
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[]) {
    const ParsedOptions parsed = parseScanOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "pelmora-scan: %s\n%s", parsed.error.c_str(), scanUsage().c_str());
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

    if (!options.verbose) {
        pelmora::silenceLibraryDiagnostics();
    }
    installStopHandlers();
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const std::vector<std::string> directories = snapshotDirectories(options);
    int status = kExitDone;
    for (std::size_t i = 0; i < options.videos.size(); ++i) {
        const std::string& video = options.videos[i];
        // Every video is compared from black, whatever came before it.
        pelmora::FrameDetector detector;
        ConsoleRunHost host(stopSignal, options.quiet, terminal);
        pelmora::RunRecorder recorder(recordOptions(options), host);
        const pelmora::RunReport report = pelmora::runDetection(
            detector, runRequest(options, video, directories[i], recorder), host);
        host.clearProgress();
        printSummary(video, report, host.secondsElapsed());
        if (report.status == pelmora::RunReport::Status::OpenFailed ||
            report.status == pelmora::RunReport::Status::OutputUnusable ||
            report.snapshotsLost > 0 || recorder.failed()) {
            status = kExitFailures;
        }
        if (stopSignal != 0) {
            return 128 + stopSignal;
        }
    }
    return status;
}
