#include "RunRecord.h"

#include <sys/stat.h>

#include <fstream>
#include <utility>

#include "FileOutput.h"
#include "FolderNames.h"
#include "JsonPath.h"
#include "Version.h"

namespace {

std::string recordPath(const std::string& folder) {
    return pelmora::joinPath(folder, RunRecord::kFileName);
}

bool isOptional(const nlohmann::json& record, const char* key, bool (nlohmann::json::*is)() const) {
    return !record.contains(key) || (record[key].*is)();
}

// Whether a record holds each field where it is, of the type we write it with: a field of
// another type would throw as it is read.
bool holdsWhatWeWrite(const nlohmann::json& record) {
    if (!record.is_object()) {
        return false;
    }
    for (const char* count : {"frames", "frames_announced", "written", "lost", "span_ms"}) {
        if (!isOptional(record, count, &nlohmann::json::is_number_integer)) {
            return false;
        }
    }
    if (!isOptional(record, "digest", &nlohmann::json::is_boolean)) {
        return false;
    }
    if (record.contains("video")) {
        const nlohmann::json& video = record["video"];
        if (!video.is_null() && (!video.is_object() || !video.contains("path_bytes") ||
                                 !video["path_bytes"].is_string())) {
            return false;
        }
    }
    if (record.contains("start")) {
        const nlohmann::json& start = record["start"];
        if (!start.is_object() || !isOptional(start, "source", &nlohmann::json::is_string) ||
            !isOptional(start, "time", &nlohmann::json::is_string) ||
            !isOptional(start, "zone", &nlohmann::json::is_string) ||
            !isOptional(start, "utc_ms", &nlohmann::json::is_number_integer)) {
            return false;
        }
    }
    return true;
}

}  // namespace

nlohmann::json startRecord(const pelmora::VideoStart& start) {
    if (!start.known()) {
        return {{"source", pelmora::startSourceWord(start.source)}};
    }
    return {{"source", pelmora::startSourceWord(start.source)},
            {"time", start.clockTime(0)},
            {"utc_ms", start.utcMs},
            {"zone", start.zone.name()}};
}

pelmora::VideoStart startFromRecord(const nlohmann::json& start) {
    pelmora::VideoStart read;
    if (!start.is_object() || !start.contains("utc_ms") || !start["utc_ms"].is_number_integer()) {
        return read;
    }
    const std::string source = start.value("source", std::string());
    for (const auto known : {pelmora::StartSource::Given, pelmora::StartSource::Name,
                             pelmora::StartSource::Metadata}) {
        if (source == pelmora::startSourceWord(known)) {
            read.source = known;
        }
    }
    read.utcMs = start["utc_ms"].get<long long>();
    std::string reason;
    const auto zone = pelmora::TimeZone::named(start.value("zone", std::string()), reason);
    read.zone = zone ? *zone : pelmora::TimeZone::machine();
    return read;
}

nlohmann::json fileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return nullptr;
    }
    return {{"path", readablePath(path)},
            {"path_bytes", pathBytes(path)},
            {"size", static_cast<long long>(info.st_size)},
            {"modified_ns",
             static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec}};
}

RunRecord::RunRecord(std::string video, nlohmann::json settings)
    : video(std::move(video)), settings(std::move(settings)) {}

nlohmann::json RunRecord::identity() const {
    return {{"video", fileIdentity(video)}, {"settings", settings}, {"version", pelmora::kVersion}};
}

std::optional<nlohmann::json> RunRecord::read(const std::string& folder) {
    std::ifstream in(recordPath(folder));
    nlohmann::json record = nlohmann::json::parse(in, nullptr, false);
    if (record.is_discarded() || !holdsWhatWeWrite(record)) {
        return std::nullopt;
    }
    return record;
}

std::optional<pelmora::RunReport> RunRecord::findDone(const std::string& folder) const {
    const std::optional<nlohmann::json> held = read(folder);
    if (!held) {
        return std::nullopt;
    }
    const nlohmann::json& record = *held;
    const nlohmann::json wanted = identity();
    for (const auto& [key, value] : wanted.items()) {
        if (!record.contains(key) || record[key] != value) {
            return std::nullopt;
        }
    }
    // A video that lost snapshots (a full disk, say) is worth another try.
    if (record.value("lost", -1LL) != 0 || wanted["video"].is_null()) {
        return std::nullopt;
    }
    struct stat info {};
    if (record.value("digest", false) &&
        ::stat(pelmora::joinPath(folder, pelmora::kDigestName).c_str(), &info) != 0) {
        return std::nullopt;
    }
    pelmora::RunReport report;
    report.outputDir = folder;
    report.framesRead = record.value("frames", 0LL);
    report.framesAnnounced = record.value("frames_announced", 0LL);
    report.snapshotsWritten = record.value("written", 0LL);
    report.spanMs = record.value("span_ms", 0LL);
    report.start = startFromRecord(record.value("start", nlohmann::json()));
    return report;
}

std::optional<std::string> RunRecord::recordedVideo(const std::string& folder) {
    return recordedVideo(read(folder).value_or(nlohmann::json()));
}

std::optional<std::string> RunRecord::recordedVideo(const nlohmann::json& record) {
    if (!record.is_object() || !record.contains("video") || !record["video"].is_object()) {
        return std::nullopt;
    }
    return pathFromBytes(record["video"]["path_bytes"].get<std::string>());
}

bool RunRecord::write(const pelmora::RunReport& report, long long clipsLost) const {
    nlohmann::json record = identity();
    record["frames"] = report.framesRead;
    record["frames_announced"] = report.framesAnnounced;
    record["written"] = report.snapshotsWritten;
    record["lost"] = report.snapshotsLost + clipsLost;
    // Where the video stands on the clock, for an overview of the batch made from the records.
    record["span_ms"] = report.spanMs;
    record["start"] = startRecord(report.start);
    if (report.findsObjects) {
        const cv::Rect& box = report.objectsBox;
        record["most_objects"] = report.mostObjects;
        record["box"] = box.area() > 0
                            ? nlohmann::json::array({box.x, box.y, box.width, box.height})
                            : nlohmann::json();
    }
    // A digest deleted since is made again by --resume.
    struct stat info {};
    record["digest"] =
        ::stat(pelmora::joinPath(report.outputDir, pelmora::kDigestName).c_str(), &info) == 0;
    // Every path in it is valid text already; nothing else may stop the record being written.
    const std::string text =
        record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return pelmora::replaceFile(recordPath(report.outputDir), text.data(), text.size()).empty();
}
