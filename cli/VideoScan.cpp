#include "VideoScan.h"

#include "ConsoleRunHost.h"
#include "FrameDetector.h"
#include "RunRecord.h"
#include "VideoRun.h"

VideoScan scanVideo(const ScanOptions& options, const nlohmann::json& settings,
                    const BatchEntry& entry, const volatile std::sig_atomic_t& stopSignal,
                    bool terminal) {
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::VideoRunRequest request;
    request.run = scanRequest(options, entry.video, entry.outputDir);
    request.records = recordOptions(options);
    // With --resume, an unfinished run is replaced as a whole, so old and new never mix; a
    // finished one of other settings stays, as without it.
    using pelmora::EarlierSnapshots;
    request.earlier = options.clean    ? EarlierSnapshots::Remove
                      : options.resume ? EarlierSnapshots::RemoveUnfinished
                                       : EarlierSnapshots::Keep;
    // Cutting the clips of a long video takes a while; a stop ends it too.
    request.stopRequested = [&stopSignal] { return stopSignal != 0; };
    // A record says the folder holds all that was asked for: --resume trusts it and never looks
    // again, so a lost snapshot or a list, report or clip not written leaves none.
    const RunRecord record(entry.video, settings);
    request.finish = [&](const pelmora::RunReport& report, bool complete) {
        return !complete || record.write(report)
                   ? std::string()
                   : "cannot write the record of " + entry.video + " in " + report.outputDir;
    };
    if (options.sweep) {
        request.sweep = pelmora::SweepRequest{
            pelmora::sweepSettings(options.sweepFirst, options.sweepLast, options.sweepTriggers),
            options.expected};
    }
    // Every video is compared from black, whatever came before it.
    pelmora::FrameDetector detector;
    const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
    host.clearProgress();
    VideoScan scan{VideoOutcome{entry.video, result.report, host.secondsElapsed()}, result.failed};
    if (options.sweep) {
        scan.outcome.sweep = SweepOutcome{result.sweepRows, options.expected};
    }
    return scan;
}
