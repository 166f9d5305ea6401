#include "SegmentJoin.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "FileDigest.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameDetector.h"
#include "RunFolder.h"
#include "TextFormat.h"
#include "VideoRun.h"
#include "VideoSource.h"
#include "VideoStart.h"

namespace fs = std::filesystem;

#include "JoinShared.h"

namespace pelmora {

namespace {

// "PATH: REASON" lines of what could not be taken away, each said; whether there was any.
bool tellLeftovers(const std::vector<std::string>& leftovers, RunLog& log) {
    for (const std::string& leftover : leftovers) {
        log.tell({MessageKind::NotRemoved, {}, leftover});
    }
    return !leftovers.empty();
}

}  // namespace

JoinFolderResult joinFolder(const JoinFolderRequest& request, RunHost& host) {
    const std::string& folder = request.folder;
    JoinFolderResult result;
    const auto refuse = [&result](const std::string& reason) {
        result.outcome = JoinFolderResult::Outcome::Refused;
        result.reason = reason;
        result.failed = true;
        return result;
    };
    // Two joins of one folder would each take the other's files for a stopped join's.
    FolderLock lock;
    const std::string busy = lock.acquire(folder);
    if (!busy.empty()) {
        return refuse(busy);
    }
    const StoppedJoin stopped = finishStoppedJoin(folder);
    if (stopped.outcome == StoppedJoin::Outcome::Failed) {
        return refuse("a join stopped part-way cannot be finished: " + stopped.message);
    }
    result.failed = tellLeftovers(stopped.leftovers, host);
    if (stopped.outcome == StoppedJoin::Outcome::Finished) {
        host.tell({MessageKind::JoinFinished, folder});
    }
    const SegmentSet segments = readSegments(folder);
    if (segments.none && request.doneBefore) {
        if (const auto done = request.doneBefore(folder)) {
            host.tell({MessageKind::AlreadyJoined, folder, {}, done->first});
            result.outcome = JoinFolderResult::Outcome::AlreadyJoined;
            result.video = done->first;
            result.report = done->second;
            return result;
        }
    }
    if (!segments.error.empty()) {
        return refuse(segments.error);
    }
    result.video = segments.records.front().facts.videoPath;
    result.stretches = segments.records.size();
    const std::string& video = result.video;
    EarlierRun earlier = findEarlierRun(folder);
    if (!earlier.error.empty()) {
        return refuse("cannot read " + folder + ": " + earlier.error);
    }

    // Lines name the files where they end up.
    StagedHost staged(host, folder);
    RunRecorder recorder(request.records, staged);
    if (request.stopRequested) {
        recorder.setStopCheck(request.stopRequested);
    }
    JoinRequest join;
    join.run = request.run;
    join.run.videoPath = video;
    join.run.outputDir = folder;
    if (request.identity) {
        join.identity = request.identity(video);
    }
    join.recorder = recorder.wanted() ? &recorder : nullptr;
    join.removeEarlierSnapshots = request.removeEarlierSnapshots;
    join.staged = [&](const RunReport& report) -> std::string {
        RunReport settled = report;
        recorder.settle(settled);
        if ((request.stopRequested && request.stopRequested()) ||
            settled.status == RunReport::Status::Stopped) {
            return "stopped before its files were complete";
        }
        if (recorder.listsFailed()) {
            return "the lists or the report could not be written";
        }
        // As after one run: no record of a run that lost a clip, so that it is done again.
        const bool complete = !recorder.failed() && report.snapshotsLost == 0;
        return request.finish ? request.finish(video, report, complete) : std::string();
    };
    const JoinResult joined = joinSegments(segments, join, staged);
    if (joined.outcome == JoinResult::Outcome::Refused ||
        joined.outcome == JoinResult::Outcome::Failed) {
        return refuse(joined.message);
    }
    if (joined.outcome == JoinResult::Outcome::OneRunNeeded) {
        host.tell({MessageKind::OneRunNeeded, video, joined.message});
        lock.release();
        VideoRunRequest whole;
        whole.run = join.run;
        whole.records = request.records;
        whole.earlier =
            request.removeEarlierSnapshots ? EarlierSnapshots::Remove : EarlierSnapshots::Keep;
        whole.stopRequested = request.stopRequested;
        if (request.finish) {
            whole.finish = [&](const RunReport& report, bool complete) {
                return request.finish(video, report, complete);
            };
        }
        FrameDetector detector;
        const VideoRunResult scanned = runVideo(detector, whole, host);
        result.outcome = JoinFolderResult::Outcome::OneRun;
        result.report = scanned.report;
        const bool done = !scanned.failed && scanned.report.status == RunReport::Status::Finished;
        if (done) {
            removeSegments(segments);
        }
        result.failed = !done;
        return result;
    }
    tellEarlierSnapshots(folder, earlier, host);
    result.outcome = JoinFolderResult::Outcome::Joined;
    result.report = joined.report;
    result.framesScannedAgain = joined.framesScannedAgain;
    result.failed = tellLeftovers(joined.leftovers, host) || recorder.failed() || result.failed;
    // What the split cost, for choosing the next N.
    host.tell({MessageKind::Notice, video,
               formatText("Joined %zu %s of %s: %lld of %lld frames scanned again",
                          result.stretches, result.stretches == 1 ? "stretch" : "stretches",
                          video.c_str(), joined.framesScannedAgain, joined.report.framesRead)});
    return result;
}

}  // namespace pelmora
