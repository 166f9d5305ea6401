#include "BatchOverview.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <vector>

#include <cstdio>

#include "DigestPlan.h"
#include "EventExports.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "JsonPath.h"
#include "OverviewPage.h"
#include "ReportPage.h"
#include "RunFolder.h"
#include "RunLog.h"
#include "RunRecord.h"

namespace fs = std::filesystem;

namespace {

// The fields of one CSV record as the lists write it: commas between, quotes around a field
// that holds a comma, a quote or a line end, a quote within doubled. A record may span lines.
bool readCsvRecord(std::istream& in, std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    bool quoted = false;
    bool any = false;
    char c = 0;
    while (in.get(c)) {
        any = true;
        if (quoted) {
            if (c == '"') {
                if (in.peek() == '"') {
                    field += '"';
                    in.get(c);
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(field);
            field.clear();
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            field += c;
        }
    }
    if (any) {
        fields.push_back(field);
    }
    return any;
}

long long number(const std::string& text) {
    try {
        return std::stoll(text);
    } catch (const std::exception&) {
        return 0;
    }
}

// The events of a folder's events.csv, by their columns' names; none where there is no list.
std::vector<pelmora::OverviewEvent> readEvents(const std::string& folder) {
    std::vector<pelmora::OverviewEvent> events;
    std::ifstream in(pelmora::joinPath(folder, pelmora::kEventListName));
    std::vector<std::string> header;
    if (!readCsvRecord(in, header)) {
        return events;
    }
    const auto column = [&header](const char* name) {
        return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) -
                                        header.begin());
    };
    const std::size_t numberAt = column("event");
    const std::size_t startAt = column("start_ms");
    const std::size_t endAt = column("end_ms");
    const std::size_t snapshotsAt = column("snapshots");
    const std::size_t peakAt = column("peak_pixels");
    const std::size_t fileAt = column("peak_file");
    const std::size_t pictureAt = column("picture_file");
    const std::size_t clipAt = column("clip");
    std::vector<std::string> row;
    while (readCsvRecord(in, row)) {
        const auto field = [&row](std::size_t at) {
            return at < row.size() ? row[at] : std::string();
        };
        if (row.size() < header.size()) {
            continue;  // a list cut short by a stopped run ends with a partial row at most
        }
        pelmora::OverviewEvent event;
        event.number = static_cast<int>(number(field(numberAt)));
        event.startMs = number(field(startAt));
        event.endMs = number(field(endAt));
        event.snapshots = number(field(snapshotsAt));
        event.peakPixels = number(field(peakAt));
        event.peakFile = field(fileAt);
        // Lists of earlier versions show the busiest snapshot.
        event.pictureFile = pictureAt < header.size() ? field(pictureAt) : event.peakFile;
        event.clip = field(clipAt);
        events.push_back(event);
    }
    return events;
}

}  // namespace

std::string writeBatchOverview(const std::string& folder, const pelmora::TimeZone& zone) {
    return writeBatchOverview(folder, zone, nullptr);
}

namespace {

// The day's digest into folder; whether it was saved.
bool writeDayDigest(const std::string& folder, const pelmora::OverviewContent& content,
                    DayDigestWish& wish) {
    const std::string path = pelmora::joinPath(folder, pelmora::kDayDigestName);
    pelmora::DayDigestRequest request;
    request.stretches = pelmora::planDayDigest(content, wish.beforeMs, wish.afterMs);
    request.path = path;
    request.stopRequested = wish.stopRequested;
    if (request.stretches.empty()) {
        pelmora::RunLog().tell({pelmora::MessageKind::NoDayDigest, folder});
        return false;
    }
    const pelmora::DigestOutcome outcome = pelmora::writeDayDigest(request);
    if (!outcome.saved) {
        wish.failed = true;
        pelmora::RunLog().tell({pelmora::MessageKind::FileNotSaved, path, outcome.error});
        return false;
    }
    pelmora::RunLog().tell({pelmora::MessageKind::FileSaved, path});
    return true;
}

}  // namespace

namespace {

// What a killed overview left in its folder: the day's digest half written, under its
// temporary name (and under the name the day's digest had before, where the folder is no
// video's own, whose digest that would be).
void clearKilledOverview(const std::string& folder) {
    const bool videosOwn = fs::exists(pelmora::joinPath(folder, pelmora::kRunRecordName));
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::optional<std::string> target =
            pelmora::temporaryTarget(entry->path().filename().string());
        if (target && (*target == pelmora::kDayDigestName ||
                       (!videosOwn && *target == pelmora::kDigestName))) {
            std::error_code ignored;
            fs::remove(entry->path(), ignored);
        }
    }
}

}  // namespace

std::string writeBatchOverview(const std::string& folder, const pelmora::TimeZone& zone,
                               DayDigestWish* digest, bool dayEvents) {
    std::error_code error;
    if (!fs::exists(folder, error)) {
        return "no such folder";
    }
    if (!fs::is_directory(folder, error)) {
        return "it is not a folder";
    }
    // Held while the page and the digest are made, so that what another overview is writing is
    // never taken for what a killed one left.
    pelmora::FolderLock lock;
    const std::string held = lock.acquire(folder);
    if (!held.empty()) {
        return held;
    }
    clearKilledOverview(folder);
    pelmora::OverviewContent content;
    content.zone = zone;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied,
                                          error);
    if (error) {
        return error.message();
    }
    for (const fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) {
            return error.message();
        }
        if (walk->path().filename() != pelmora::kRunRecordName) {
            continue;
        }
        const std::string runFolder = walk->path().parent_path().string();
        const std::optional<nlohmann::json> held = RunRecord::read(runFolder);
        const auto video = held ? RunRecord::recordedVideo(*held) : std::nullopt;
        if (!video) {
            std::fprintf(stderr, "Left out of the overview: %s holds no record of a run of ours\n",
                         runFolder.c_str());
            continue;
        }
        const nlohmann::json& record = *held;
        pelmora::OverviewVideo each;
        each.video = *video;
        each.camera = pelmora::cameraOfVideo(*video);
        const std::string relative =
            fs::path(runFolder).lexically_relative(fs::path(folder)).generic_string();
        each.folder = relative == "." ? std::string() : relative;
        each.start = startFromRecord(record.value("start", nlohmann::json()));
        each.spanMs = record.value("span_ms", 0LL);
        each.report = fs::exists(pelmora::joinPath(runFolder, pelmora::kReportName), error);
        each.events = readEvents(runFolder);
        content.videos.push_back(std::move(each));
    }
    if (content.videos.empty()) {
        return "it holds no finished run's record";
    }
    // The same videos in the same order however the batch was split or its folders listed.
    std::sort(content.videos.begin(), content.videos.end(),
              [](const pelmora::OverviewVideo& a, const pelmora::OverviewVideo& b) {
                  return a.video < b.video;
              });
    content.thumbnail = [&folder](const pelmora::OverviewVideo& video,
                                  const pelmora::OverviewEvent& event) {
        // A list names a snapshot of its own folder, never a file elsewhere: a name that
        // leaves it is no snapshot of ours, and its bytes stay out of the page.
        if (!pelmora::isSnapshotFileName(event.pictureFile)) {
            return std::string();
        }
        return pelmora::thumbnailAddress(
            pelmora::joinPath(pelmora::joinPath(folder, video.folder), event.pictureFile),
            pelmora::kOverviewThumbnailWidth);
    };
    content.madeAt = pelmora::localTimeNow();
    content.digest = digest != nullptr && writeDayDigest(folder, content, *digest);
    // A digest of an earlier overview is not this page's: none is better than one that shows
    // other events than the page.
    const std::string dayDigest = pelmora::joinPath(folder, pelmora::kDayDigestName);
    if (!content.digest && fs::exists(dayDigest, error)) {
        fs::remove(dayDigest, error);
        std::fprintf(stderr, "Removed %s of an earlier overview, which this one does not link\n",
                     dayDigest.c_str());
    }
    // The day's events for scripts, or none: one an earlier overview left would hold other
    // events than this page.
    const std::string eventsPath = pelmora::joinPath(folder, pelmora::kDayEventsName);
    if (dayEvents) {
        const std::string text = pelmora::dayEventsJsonText(content);
        const std::string failed = pelmora::replaceFile(eventsPath, text.data(), text.size());
        if (!failed.empty()) {
            return failed;
        }
        std::fprintf(stderr, "[%s]\n", eventsPath.c_str());
    } else if (fs::exists(eventsPath, error)) {
        fs::remove(eventsPath, error);
        std::fprintf(stderr, "Removed %s of an earlier overview, which this one did not make\n",
                     eventsPath.c_str());
    }
    const std::string page = pelmora::overviewPage(content);
    const std::string path = pelmora::joinPath(folder, pelmora::kOverviewName);
    const std::string reason = pelmora::replaceFile(path, page.data(), page.size());
    if (reason.empty()) {
        std::fprintf(stderr, "[%s]\n", path.c_str());
    }
    return reason;
}
