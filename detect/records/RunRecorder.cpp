#include "RunRecorder.h"

#include <algorithm>
#include <cmath>

#include "ClipPlan.h"
#include "ContactSheet.h"
#include "DigestPlan.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "ReportPage.h"
#include "TextFormat.h"
#include "VideoFile.h"

namespace pelmora {

namespace {

// A list's last column, where the video's start is known.
constexpr const char* kClockColumn = "clock_time";
// Where the clip's columns stand in a row of events.csv: after peak_file.
constexpr long kClipColumnsAt = 8;

// "24x60+45+59": a box as width, height and its top left corner, in the snapshot's pixels.
std::string boxText(const cv::Rect& box) {
    return formatText("%dx%d+%d+%d", box.width, box.height, box.x, box.y);
}

// The boxes of a snapshot, ';' between them; empty for none.
std::string boxesText(const std::vector<cv::Rect>& boxes) {
    std::string text;
    for (const cv::Rect& box : boxes) {
        text += (text.empty() ? "" : ";") + boxText(box);
    }
    return text;
}

std::vector<std::string> eventHeader(bool clips, bool clock, bool objects) {
    std::vector<std::string> header = {"event", "start_ms",  "end_ms",      "start",
                                       "end",   "snapshots", "peak_pixels", "peak_file"};
    if (clips) {
        header.insert(header.end(), {"clip", "clip_start_ms", "clip_end_ms"});
    }
    // Added after the columns lists had before it, so that a reader by place still finds them.
    header.emplace_back("picture_file");
    if (objects) {
        header.insert(header.end(), {"box", "most_objects"});
    }
    if (clock) {
        header.emplace_back(kClockColumn);
    }
    return header;
}

}  // namespace

RunRecorder::RunRecorder(RecordOptions options, RunLog& log)
    : options(options.withImplied()), log(log), grouper(options.eventGapMs) {}

void RunRecorder::runStarted(const RunFacts& runFacts) {
    facts = runFacts;
    if (options.digest && usableFrameRate(facts.fps)) {
        frameNames.emplace(facts.fps);
    }
    if (listener != nullptr) {
        listener->recordStarted(facts);
    }
    if (!wanted()) {
        return;
    }
    std::vector<std::string> snapshotHeader = {"frame", "time_ms", "timecode",  "changed_pixels",
                                               "file",  "saved",   "stream_ms", "start"};
    if (facts.findsObjects) {
        snapshotHeader.emplace_back("boxes");
    }
    if (facts.start.known()) {
        snapshotHeader.emplace_back(kClockColumn);
    }
    const std::string snapshotList =
        snapshots.open(joinPath(facts.outputDir, kSnapshotListName), snapshotHeader);
    if (!snapshotList.empty()) {
        fail(kSnapshotListName, snapshotList);
    }
    const std::string eventList =
        events.open(joinPath(facts.outputDir, kEventListName),
                    eventHeader(options.clips, facts.start.known(), facts.findsObjects));
    if (!eventList.empty()) {
        fail(kEventListName, eventList);
    }
    // The clips are cut from a second reading, which such a video does not allow: said now,
    // rather than after a scan that may take hours, and the events are listed without them.
    if (options.clips || options.digest) {
        unreadableAgain = notReadableAgain(facts.videoPath);
    }
    if (!unreadableAgain.empty()) {
        failure = true;
        log.tell({MessageKind::VideoNotReadAgain, facts.videoPath, unreadableAgain,
                  options.clips && options.digest ? "clips and digest"
                  : options.clips                 ? "clips"
                                                  : "digest"});
    }
}

void RunRecorder::frameMeasured(const FrameMeasure& measure) {
    lastTimeMs = measure.timeMs;
    if (frameNames) {
        frameNames->add(measure.frame, measure.timeMs);
    }
    timeline.add(measure.timeMs, measure.changedPixels, !measure.againstBlack);
    if (listener != nullptr) {
        listener->framePlotted(measure);
    }
}

void RunRecorder::snapshotDone(const SnapshotOutcome& snapshot) {
    if (wanted()) {
        std::vector<std::string> row = {std::to_string(snapshot.frame),
                                        std::to_string(snapshot.timeMs),
                                        timecode(snapshot.timeMs),
                                        std::to_string(snapshot.changedPixels),
                                        snapshot.file,
                                        snapshot.saved ? "yes" : "no",
                                        std::to_string(snapshot.streamMs),
                                        snapshot.againstBlack ? "1" : "0"};
        if (facts.findsObjects) {
            row.push_back(boxesText(snapshot.boxes));
        }
        if (facts.start.known()) {
            row.push_back(facts.start.clockTime(snapshot.timeMs));
        }
        writeRow(snapshots, kSnapshotListName, row);
    }
    if (listener != nullptr) {
        listener->snapshotListed(snapshot);
    }
    if (snapshot.againstBlack) {
        return;
    }
    if (options.exports.json) {
        eventSnapshots.push_back(snapshot);
    }
    if (const auto closed = grouper.add(snapshot)) {
        eventClosed(*closed);
    }
    if (listener != nullptr) {
        listener->eventGrowing(*grouper.openEvent());
    }
}

void RunRecorder::runFinished(const RunReport& report) {
    if (const auto closed = grouper.finish()) {
        eventClosed(*closed);
    }
    if (!wanted()) {
        return;
    }
    // A stopped run is to be run again; its clips would only delay the stop.
    if (options.clips && report.status == RunReport::Status::Finished) {
        if (unreadableAgain.empty()) {
            cutClips();
        } else {
            lostClips = static_cast<long long>(
                planClipStretches(closedEvents, options.clipBeforeMs, options.clipAfterMs).size());
        }
    }
    if (options.digest && report.status == RunReport::Status::Finished && unreadableAgain.empty()) {
        makeDigest(report);
    }
    // The lists are whole once the clips have had their columns filled in.
    if (snapshots.isOpen()) {
        saved(kSnapshotListName);
    }
    if (events.isOpen()) {
        saved(kEventListName);
    }
    // The frames read at the container's rate; the last frame's time when it gives none.
    const long long durationMs =
        usableFrameRate(facts.fps)
            ? std::llround(static_cast<double>(report.framesRead) * 1000.0 / facts.fps)
            : lastTimeMs;
    if (options.exports.any()) {
        writeExports(durationMs);
    }
    if (options.contactSheet) {
        const std::string::size_type slash = facts.videoPath.rfind('/');
        const std::string reason = writeContactSheet(
            closedEvents, facts.outputDir,
            slash == std::string::npos ? facts.videoPath : facts.videoPath.substr(slash + 1),
            facts.start);
        if (!reason.empty()) {
            fail(kContactSheetName, reason);
        } else {
            saved(kContactSheetName);
        }
    }
    if (!options.report) {
        return;
    }
    ReportContent content;
    content.facts = facts;
    content.report = report;
    content.durationMs = durationMs;
    content.eventGapMs = options.eventGapMs;
    content.buckets = timeline.buckets();
    content.scalePixels = timeline.scalePixels();
    content.events = closedEvents;
    content.clipsWanted = options.clips;
    content.clips = clipOutcomes;
    content.digestSaved = digestSaved;
    content.exports = exportsSaved;
    content.thumbnails = embeddedThumbnails(closedEvents, facts.outputDir);
    if (!facts.regions.empty()) {
        content.regionsPicture = regionsPictureAddress(facts.videoPath, facts.regions);
    }
    content.madeAt = localTimeNow();
    const std::string page = reportPage(content);
    const std::string reason =
        replaceFile(joinPath(facts.outputDir, kReportName), page.data(), page.size());
    if (!reason.empty()) {
        fail(kReportName, reason);
    } else {
        saved(kReportName);
    }
}

void RunRecorder::saved(const char* name) {
    log.tell({MessageKind::FileSaved, joinPath(facts.outputDir, name)});
}

void RunRecorder::settle(RunReport& report) const {
    if (clipsStopped || digestStopped) {
        report.status = RunReport::Status::Stopped;
    }
}

void RunRecorder::eventClosed(const MotionEvent& event) {
    std::vector<std::string> row = {std::to_string(event.number),
                                    std::to_string(event.startMs),
                                    std::to_string(event.endMs),
                                    timecode(event.startMs),
                                    timecode(event.endMs),
                                    std::to_string(event.snapshots),
                                    std::to_string(event.peakPixels),
                                    event.peakFile,
                                    event.pictureFile};
    if (facts.findsObjects) {
        row.insert(row.end(), {event.box.area() > 0 ? boxText(event.box) : std::string(),
                               std::to_string(event.mostObjects)});
    }
    if (options.clips) {
        // Where the clip went is known only after the run; until then a killed run leaves
        // the columns empty.
        eventRows.push_back(row);
        row.insert(row.begin() + kClipColumnsAt, 3, std::string());
    }
    if (facts.start.known()) {
        row.push_back(facts.start.clockTime(event.startMs));
    }
    writeRow(events, kEventListName, row);
    if (options.report || options.clips || options.contactSheet || options.digest ||
        options.exports.any()) {
        closedEvents.push_back(event);
    }
    if (listener != nullptr) {
        listener->eventClosed(event);
    }
}

void RunRecorder::cutClips() {
    ClipRequest request;
    request.videoPath = facts.videoPath;
    request.folder = facts.outputDir;
    request.stretches = planClipStretches(closedEvents, options.clipBeforeMs, options.clipAfterMs);
    request.mode = options.clipMode;
    request.stopRequested = stopCheck;
    const ClipResults results = writeClips(request);
    for (const std::string& notice : results.notices) {
        log.tell({MessageKind::Notice, facts.videoPath, notice});
    }
    for (const ClipOutcome& clip : results.clips) {
        const std::string path = joinPath(facts.outputDir, clip.file);
        if (clip.saved) {
            log.tell({MessageKind::FileSaved, path});
        } else {
            failure = true;
            log.tell({MessageKind::ClipNotSaved, path, clip.error, clip.file});
        }
    }
    lostClips = results.lost;
    clipsStopped = results.stopped;
    clipOutcomes = results.clips;
    rewriteEventList();
    if (listener != nullptr) {
        listener->clipsCut(clipOutcomes);
    }
}

void RunRecorder::makeDigest(const RunReport& report) {
    const std::string path = joinPath(facts.outputDir, kDigestName);
    if (closedEvents.empty()) {
        log.tell({MessageKind::NoDigest, facts.videoPath});
        return;
    }
    // A stop during the clips stops the digest before it starts.
    if (clipsStopped) {
        digestStopped = true;
        return;
    }
    DigestRequest request;
    request.videoPath = facts.videoPath;
    request.path = path;
    const FrameNames names = frameNames ? *frameNames : FrameNames(facts.fps);
    request.pieces = planDigest(closedEvents, report.lastFrame, names, options.clipBeforeMs,
                                options.clipAfterMs, options.digestSpeed);
    request.names = names;
    request.start = facts.start;
    request.stopRequested = stopCheck;
    const DigestOutcome outcome = writeDigest(request);
    if (outcome.saved) {
        digestSaved = true;
        log.tell({MessageKind::FileSaved, path});
        if (listener != nullptr) {
            listener->digestSaved(path);
        }
        return;
    }
    digestStopped = outcome.stopped;
    failure = true;
    log.tell({MessageKind::FileNotSaved, path, outcome.error, kDigestName});
}

void RunRecorder::writeExports(long long durationMs) {
    ExportContent content;
    content.facts = facts;
    content.eventGapMs = options.eventGapMs;
    content.durationMs = durationMs;
    auto snapshot = eventSnapshots.begin();
    for (const MotionEvent& event : closedEvents) {
        ExportedEvent exported{event, {}};
        // Both in frame order: each event's snapshots are those up to its last frame.
        for (; snapshot != eventSnapshots.end() && snapshot->frame <= event.lastFrame; ++snapshot) {
            exported.snapshots.push_back(*snapshot);
        }
        content.events.push_back(std::move(exported));
    }
    for (const ExportFile& file : eventExports(options.exports, content)) {
        const std::string reason =
            replaceFile(joinPath(facts.outputDir, file.name), file.text.data(), file.text.size());
        if (!reason.empty()) {
            fail(file.name, reason);
        } else {
            saved(file.name);
            exportsSaved.emplace_back(file.name);
        }
    }
}

void RunRecorder::rewriteEventList() {
    // A list that already failed has been reported and stays as it is.
    if (!events.isOpen()) {
        return;
    }
    std::string text =
        CsvWriter::record(eventHeader(true, facts.start.known(), facts.findsObjects));
    for (std::vector<std::string> row : eventRows) {
        const int number = std::stoi(row.front());
        const ClipOutcome* clip = nullptr;
        for (const ClipOutcome& outcome : clipOutcomes) {
            if (std::find(outcome.events.begin(), outcome.events.end(), number) !=
                outcome.events.end()) {
                clip = &outcome;
            }
        }
        if (clip != nullptr && clip->saved) {
            row.insert(row.begin() + kClipColumnsAt,
                       {clip->file, std::to_string(clip->startMs), std::to_string(clip->endMs)});
        } else {
            row.insert(row.begin() + kClipColumnsAt, 3, std::string());
        }
        if (facts.start.known()) {
            row.push_back(facts.start.clockTime(std::stoll(row[1])));
        }
        text += CsvWriter::record(row);
    }
    const std::string reason =
        replaceFile(joinPath(facts.outputDir, kEventListName), text.data(), text.size());
    if (!reason.empty()) {
        fail(kEventListName, reason);
    }
}

void RunRecorder::writeRow(CsvWriter& file, const char* name,
                           const std::vector<std::string>& fields) {
    // A file that failed has been reported and takes no more rows.
    if (file.isOpen() && !file.writeRow(fields)) {
        fail(name, file.error());
    }
}

void RunRecorder::fail(const char* name, const std::string& reason) {
    failure = true;
    listFailure = true;
    log.tell({MessageKind::ListNotWritten, joinPath(facts.outputDir, name), reason, name});
}

}  // namespace pelmora
