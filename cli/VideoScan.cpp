#include "VideoScan.h"

#include <cstdio>

#include "ConsoleRunHost.h"
#include "DetectionRun.h"
#include "FrameDetector.h"
#include "RunFolder.h"
#include "RunRecord.h"
#include "RunRecorder.h"

VideoScan scanVideo(const ScanOptions& options, const nlohmann::json& settings,
                    const BatchEntry& entry, const volatile std::sig_atomic_t& stopSignal,
                    bool terminal) {
    const RunRecord record(entry.video, settings);
    // Every video is compared from black, whatever came before it.
    pelmora::FrameDetector detector;
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::RunRecorder recorder(recordOptions(options), host);
    // Cutting the clips of a long video takes a while; a stop ends it too.
    recorder.setStopCheck([&stopSignal] { return stopSignal != 0; });
    pelmora::RunRequest request = runRequest(options, entry.video, entry.outputDir, recorder);
    // With --resume, an unfinished run is replaced as a whole, so old and new never mix; a
    // finished one of other settings stays, as without it. Held until the record is written,
    // so that no other run clears the folder before.
    using pelmora::EarlierSnapshots;
    const EarlierSnapshots earlierSnapshots = options.clean    ? EarlierSnapshots::Remove
                                              : options.resume ? EarlierSnapshots::RemoveUnfinished
                                                               : EarlierSnapshots::Keep;
    pelmora::FolderLock lock;
    pelmora::EarlierRun earlier;
    request.folderReady = [&](const std::string& dir) {
        return pelmora::readyFolder(dir, earlierSnapshots, lock, earlier, host);
    };
    pelmora::RunReport report = pelmora::runDetection(detector, request, host);
    recorder.settle(report);
    host.clearProgress();
    pelmora::tellEarlierSnapshots(report.outputDir, earlier, host);
    // A record says the folder holds all the options asked for: --resume trusts it and
    // never looks again, so a lost snapshot or a list or report not written leaves none.
    const bool complete = report.status == pelmora::RunReport::Status::Finished &&
                          report.snapshotsLost == 0 && !recorder.failed();
    const bool recordFailed = complete && !record.write(report, recorder.clipsLost());
    if (recordFailed) {
        std::fprintf(stderr, "Cannot write the record of %s in %s\n", entry.video.c_str(),
                     report.outputDir.c_str());
    }
    VideoScan scan;
    scan.outcome = VideoOutcome{entry.video, report, host.secondsElapsed()};
    scan.failed = report.status == pelmora::RunReport::Status::OpenFailed ||
                  report.status == pelmora::RunReport::Status::OutputUnusable ||
                  report.status == pelmora::RunReport::Status::Failed || report.snapshotsLost > 0 ||
                  recorder.failed() || recordFailed;
    return scan;
}
