#include <nlohmann/json.hpp>
#include <string>

#include "OptionTable.h"
#include "RunRecord.h"
#include "ScanOptions.h"

pelmora::RecordOptions recordOptions(const ScanOptions& options) {
    pelmora::RecordOptions record;
    record.events = options.events;
    // The overview is read from each video's report and lists.
    record.report = options.report || options.overview;
    record.contactSheet = options.contactSheet;
    record.exports = options.exports;
    record.digest = options.digest;
    record.digestSpeed = options.digestSpeed;
    record.eventGapMs = options.eventGapMs;
    record.clips = options.clips;
    record.clipMode = options.clipMode;
    record.clipBeforeMs = options.clipBeforeMs;
    record.clipAfterMs = options.clipAfterMs;
    return record.withImplied();
}

pelmora::RunRequest scanRequest(const ScanOptions& options, const std::string& video,
                                const std::string& directory) {
    pelmora::RunRequest request{video, directory, options.threshold, options.jobs};
    request.minPixels = options.minPixels;
    request.watched = options.watched;
    request.clock = options.clock;
    request.detector = options.detector;
    request.objects = options.objects;
    request.boxes = options.boxes;
    request.start = options.start;
    request.times = options.stretch;
    return request;
}

nlohmann::json resultSettings(const ScanOptions& options) {
    namespace option = pelmora::option;
    const pelmora::RecordOptions record = recordOptions(options);
    nlohmann::json settings = {
        {"threshold", options.threshold},
        {"min_pixels", options.minPixels},
        {"mask", options.maskPath.empty() ? nlohmann::json() : fileIdentity(options.maskPath)},
        {"events", record.events},
        {"report", record.report},
        {"event_gap_ms", record.eventGapMs},
        {"clock", option::kClock.choices[options.clock == pelmora::RunClock::Stream ? 1 : 0]},
        {"detector", options.detector == pelmora::DetectorKind::Objects
                         ? nlohmann::json({{"name", option::kDetector.choices[1]},
                                           {"least_share", options.objects.share},
                                           {"least_pixels", options.objects.pixels},
                                           {"least_ms", options.objects.leastMs},
                                           {"boxes", options.boxes}})
                         : nlohmann::json(option::kDetector.choices[0])},
        {"clips",
         !record.clips
             ? nlohmann::json()
             : nlohmann::json(
                   option::kClips.choices[record.clipMode == pelmora::ClipMode::Encode ? 1 : 0])},
        {"clip_before_ms", record.clipBeforeMs},
        {"clip_after_ms", record.clipAfterMs},
        {"contact_sheet", record.contactSheet},
        {"digest_speed", record.digest ? nlohmann::json(record.digestSpeed) : nlohmann::json()},
        {"start_time",
         options.startTimeText.empty() ? nlohmann::json() : nlohmann::json(options.startTimeText)},
        {"start_from", options.start.from == pelmora::StartFrom::Any
                           ? "any"
                           : option::kStartFrom.choices[static_cast<int>(options.start.from) - 1]},
        {"time_zone", options.start.zoneOrMachine().name()}};
    // Only where asked for, so that the records of runs before exports existed still say the
    // settings of the same run.
    if (record.exports.any()) {
        settings["exports"] = pelmora::exportFormatNames(record.exports);
    }
    if (!options.watched.shapes().empty()) {
        settings["regions"] = pelmora::regionLines(options.watched.shapes());
    }
    return settings;
}
