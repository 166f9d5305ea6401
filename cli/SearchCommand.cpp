#include "SearchCommand.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "ConsoleRunHost.h"
#include "FolderNames.h"
#include "FrameDetector.h"
#include "ObjectIndex.h"
#include "RecordListener.h"
#include "RunRecord.h"
#include "StandardOutput.h"
#include "TextFormat.h"
#include "VideoRun.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;

// One index and the question as it is put to it.
struct SearchedVideo {
    std::string folder;  // where the index is
    std::string answerFolder;
    pelmora::ObjectIndex index;
    pelmora::IndexQuestion question;
    pelmora::VideoStart start;
    ScanOptions options;  // the search's, with the scan's excluded polygons and mask
};

// Prints each event as the run closes it, for a person reading the search's answer.
class EventLines : public pelmora::RecordListener {
public:
    explicit EventLines(std::string video) : video(std::move(video)) {}

    void recordStarted(const pelmora::RunFacts& runFacts) override { facts = runFacts; }
    void framePlotted(const pelmora::FrameMeasure&) override {}
    void snapshotListed(const pelmora::SnapshotOutcome&) override {}
    void eventGrowing(const pelmora::MotionEvent&) override {}
    void eventClosed(const pelmora::MotionEvent& event) override {
        const std::string clock =
            facts.start.known() ? " (" + facts.start.clockTime(event.startMs) + ")" : std::string();
        lines += pelmora::formatText(
            "%s: event %d from %s to %s%s, %lld snapshot%s, %d object%s at most\n", video.c_str(),
            event.number, pelmora::timecode(event.startMs).c_str(),
            pelmora::timecode(event.endMs).c_str(), clock.c_str(), event.snapshots,
            event.snapshots == 1 ? "" : "s", event.mostObjects, event.mostObjects == 1 ? "" : "s");
    }
    void clipsCut(const std::vector<pelmora::ClipOutcome>&) override {}
    void digestSaved(const std::string&) override {}

    std::string lines;

private:
    std::string video;
    pelmora::RunFacts facts;
};

// The index in folder and the question put to it, or why it cannot be answered.
std::string prepare(const ScanOptions& options, const std::string& folder,
                    const std::string& answerFolder, SearchedVideo& video) {
    video.folder = folder;
    video.answerFolder = answerFolder;
    const std::string indexPath = pelmora::joinPath(folder, pelmora::kObjectIndexName);
    std::string reason = pelmora::readObjectIndex(indexPath, video.index);
    if (!reason.empty()) {
        return reason;
    }
    const pelmora::IndexHead& head = video.index.head;
    reason =
        pelmora::questionRefusal(head, options.watched.shapes(), options.maskPath, options.objects);
    if (!reason.empty()) {
        return indexPath + ": " + reason;
    }
    video.options = options;
    video.options.maskPath = head.maskPath;
    video.options.watched.setShapes(pelmora::questionShapes(head, options.watched.shapes()));
    video.start = pelmora::decideStart(head.videoPath, head.creationTime, options.start);
    video.question.index = &video.index;
    video.question.snapshots = options.snapshots;
    if (options.betweenTexts.size() == 2) {
        std::string why;
        const std::optional<long long> from =
            pelmora::clockMomentMs(options.betweenTexts[0], video.start, why);
        const std::optional<long long> to =
            from ? pelmora::clockMomentMs(options.betweenTexts[1], video.start, why) : from;
        if (!from || !to) {
            return head.videoPath + ": --between: " + why;
        }
        if (*to < *from) {
            return "--between's START must come before its END";
        }
        video.question.windowed = true;
        video.question.fromUtcMs = *from;
        video.question.toUtcMs = *to;
    }
    return std::string();
}

bool answer(SearchedVideo& video, const StopSignal& stopSignal, bool terminal) {
    const ScanOptions& options = video.options;
    const std::string& path = video.index.head.videoPath;
    ConsoleRunHost host(stopSignal, options.quiet, terminal);
    pelmora::VideoRunRequest request;
    request.run = scanRequest(options, path, video.answerFolder);
    request.run.question = &video.question;
    request.records = recordOptions(options);
    // The folder is the question's own: a question asked again replaces what it found before.
    request.earlier = pelmora::EarlierSnapshots::Remove;
    request.stopRequested = [&stopSignal] { return stopSignal != 0; };
    const RunRecord record(path, resultSettings(options));
    request.finish = [&](const pelmora::RunReport& report, bool complete) {
        return !complete || record.write(report)
                   ? std::string()
                   : "cannot write the record of " + path + " in " + report.outputDir;
    };
    EventLines events(path);
    request.listener = &events;
    pelmora::FrameDetector unused;
    const pelmora::VideoRunResult result = pelmora::runVideo(unused, request, host);
    host.clearProgress();
    const std::string summary =
        events.lines + summaryLine(options.summary,
                                   VideoOutcome{path, result.report, host.secondsElapsed()},
                                   options.quiet);
    if (const int error = putOutput(stdout, summary)) {
        sayOutputLost(error);
        return false;
    }
    return !result.failed;
}

}  // namespace

int searchCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal,
                  std::string& answerFolder) {
    const std::string& folder = options.searchFolder;
    const std::vector<std::string> folders = pelmora::objectIndexFolders(folder);
    if (folders.empty()) {
        std::fprintf(stderr,
                     "pelmora-scan: no object index (%s) in %s: scan it with --detector objects "
                     "first\n",
                     pelmora::kObjectIndexName, folder.c_str());
        return kExitUsage;
    }
    const std::string name = options.searchName.empty()
                                 ? pelmora::questionName(options.watched.shapes(), options.objects,
                                                         options.eventGapMs, options.betweenTexts)
                                 : options.searchName;
    answerFolder = pelmora::joinPath(folder, pelmora::kSearchFolderPrefix + name);
    // Every index is read and every question checked before anything is written, so that no
    // camera is answered when another cannot be.
    std::vector<std::unique_ptr<SearchedVideo>> videos;
    for (const std::string& each : folders) {
        const std::filesystem::path relative =
            std::filesystem::path(each).lexically_relative(folder);
        const std::string into = relative.empty() || relative == "."
                                     ? answerFolder
                                     : pelmora::joinPath(answerFolder, relative.string());
        auto video = std::make_unique<SearchedVideo>();
        const std::string reason = prepare(options, each, into, *video);
        if (!reason.empty()) {
            std::fprintf(stderr, "pelmora-scan: cannot search %s: %s\n", each.c_str(),
                         reason.c_str());
            return kExitUsage;
        }
        videos.push_back(std::move(video));
    }
    // The cameras of a day in clock order, those without a clock after them.
    std::stable_sort(videos.begin(), videos.end(), [](const auto& a, const auto& b) {
        return a->start.known() != b->start.known()
                   ? a->start.known()
                   : a->start.known() && a->start.utcMs < b->start.utcMs;
    });
    bool failed = false;
    for (const auto& video : videos) {
        if (stopSignal != 0) {
            break;
        }
        failed = !answer(*video, stopSignal, terminal) || failed;
    }
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    return failed ? kExitFailures : kExitDone;
}
