#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "EventExports.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "OptionTable.h"

// The exports that are JSON: OpenTimelineIO's timeline, and the events for scripts.

namespace pelmora {

namespace {

using json = nlohmann::ordered_json;

// Every path written is valid text already; nothing else may stop the file being written.
std::string dumped(const json& value) {
    return value.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

json clockTime(const VideoStart& start, long long ms) {
    return start.known() ? json(start.clockTime(ms)) : json();
}

json boxJson(const cv::Rect& box) {
    return json::array({box.x, box.y, box.width, box.height});
}

// "file:///recordings/garden%20cam.avi": the video's absolute path with every byte but the
// unreserved ones and '/' escaped.
std::string fileUrl(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::string full = error ? path : absolute.lexically_normal().string();
    std::string url = "file://";
    for (const unsigned char c : full) {
        if (std::isalnum(c) != 0 || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            static const char* const kHex = "0123456789ABCDEF";
            url += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return url;
}

// OpenTimelineIO counts time at a rate: the video's where it is known, else milliseconds.
struct OtioClock {
    double rate;
    double scale;  // values a millisecond

    explicit OtioClock(double fps)
        : rate(usableFrameRate(fps) ? fps : 1000.0), scale(rate / 1000.0) {}

    json at(long long ms) const {
        return {{"OTIO_SCHEMA", "RationalTime.1"},
                {"rate", rate},
                {"value", std::round(static_cast<double>(ms) * scale)}};
    }
    json range(long long fromMs, long long toMs) const {
        return {{"OTIO_SCHEMA", "TimeRange.1"},
                {"start_time", at(fromMs)},
                {"duration", at(toMs - fromMs)}};
    }
};

// What an item of OpenTimelineIO holds besides its own fields.
json otioItem(const char* schema, const std::string& name) {
    return {{"OTIO_SCHEMA", schema},   {"metadata", json::object()}, {"name", name},
            {"source_range", nullptr}, {"effects", json::array()},   {"markers", json::array()}};
}

json settingsJson(const ExportContent& content) {
    const RunFacts& facts = content.facts;
    json settings = {{"detector", option::kDetector.choices[facts.findsObjects ? 1 : 0]},
                     {"threshold", facts.threshold},
                     {"min_pixels", facts.minPixels},
                     {"event_gap_ms", content.eventGapMs},
                     {"mask", facts.watchedRegion.empty() ? json() : json(facts.watchedRegion)}};
    // Only where drawn, so that the files of runs without them stay as they were.
    if (!facts.regions.empty()) {
        settings["regions"] = regionLines(facts.regions);
    }
    return settings;
}

}  // namespace

std::string otioText(const ExportContent& content) {
    const RunFacts& facts = content.facts;
    const OtioClock clock(facts.fps);
    const std::string name = fileNameOf(facts.videoPath);
    json markers = json::array();
    for (const ExportedEvent& exported : content.events) {
        const MotionEvent& event = exported.event;
        const long long endMs = exportedEndMs(event, facts.fps);
        markers.push_back({{"OTIO_SCHEMA", "Marker.1"},
                           {"metadata",
                            {{"pelmora",
                              {{"event", event.number},
                               {"start_ms", event.startMs},
                               {"end_ms", event.endMs},
                               {"start_clock_time", clockTime(facts.start, event.startMs)},
                               {"snapshots", event.snapshots},
                               {"peak_pixels", event.peakPixels},
                               {"peak_file", event.peakFile}}}}},
                           {"name", "Event " + std::to_string(event.number)},
                           {"color", "RED"},
                           {"marked_range", clock.range(event.startMs, endMs)}});
    }
    json clip = otioItem("Clip.1", name);
    clip["source_range"] = clock.range(0, content.durationMs);
    clip["markers"] = markers;
    clip["media_reference"] = {{"OTIO_SCHEMA", "ExternalReference.1"},
                               {"metadata", json::object()},
                               {"name", name},
                               {"available_range", clock.range(0, content.durationMs)},
                               {"target_url", fileUrl(facts.videoPath)}};
    json track = otioItem("Track.1", "Video");
    track["kind"] = "Video";
    track["children"] = json::array({clip});
    json stack = otioItem("Stack.1", "tracks");
    stack["children"] = json::array({track});
    const json timeline = {{"OTIO_SCHEMA", "Timeline.1"},
                           {"metadata",
                            {{"pelmora",
                              {{"schema", "pelmora-otio"},
                               {"version", kEventsOtioVersion},
                               {"settings", settingsJson(content)},
                               {"start_clock_time", clockTime(facts.start, 0)}}}}},
                           {"name", name},
                           {"global_start_time", nullptr},
                           {"tracks", stack}};
    return dumped(timeline);
}

std::string eventsJsonText(const ExportContent& content) {
    const RunFacts& facts = content.facts;
    json events = json::array();
    for (const ExportedEvent& exported : content.events) {
        const MotionEvent& event = exported.event;
        json snapshots = json::array();
        for (const SnapshotOutcome& snapshot : exported.snapshots) {
            json entry = {{"file", snapshot.file},
                          {"saved", snapshot.saved},
                          {"frame", snapshot.frame},
                          {"time_ms", snapshot.timeMs},
                          {"clock_time", clockTime(facts.start, snapshot.timeMs)},
                          {"changed_pixels", snapshot.changedPixels}};
            if (facts.findsObjects) {
                json boxes = json::array();
                for (const cv::Rect& box : snapshot.boxes) {
                    boxes.push_back(boxJson(box));
                }
                entry["boxes"] = boxes;
            }
            snapshots.push_back(entry);
        }
        json entry = {{"event", event.number},
                      {"start_ms", event.startMs},
                      {"end_ms", event.endMs},
                      {"start_clock_time", clockTime(facts.start, event.startMs)},
                      {"end_clock_time", clockTime(facts.start, event.endMs)},
                      {"peak_pixels", event.peakPixels},
                      {"peak_file", event.peakFile},
                      {"picture_file", event.pictureFile},
                      {"snapshots", snapshots}};
        if (facts.findsObjects) {
            entry["box"] = event.box.area() > 0 ? boxJson(event.box) : json();
            entry["most_objects"] = event.mostObjects;
        }
        events.push_back(entry);
    }
    const json document = {{"schema", "pelmora-events"},
                           {"version", kEventsJsonVersion},
                           {"video",
                            {{"path", facts.videoPath},
                             {"file", fileNameOf(facts.videoPath)},
                             {"width", facts.frameSize.width},
                             {"height", facts.frameSize.height},
                             {"fps", usableFrameRate(facts.fps) ? json(facts.fps) : json()},
                             {"duration_ms", content.durationMs},
                             {"start_clock_time", clockTime(facts.start, 0)},
                             {"start_source", startSourceWord(facts.start.source)}}},
                           {"settings", settingsJson(content)},
                           {"events", events}};
    return dumped(document);
}

std::string dayEventsJsonText(const OverviewContent& content) {
    struct Placed {
        long long utcMs;
        const OverviewVideo* video;
        const OverviewEvent* event;
    };
    std::vector<Placed> placed;
    json videos = json::array();
    for (const OverviewVideo& video : content.videos) {
        videos.push_back(
            {{"video", video.video},
             {"camera", video.camera},
             {"folder", video.folder},
             {"start_clock_time",
              video.start.known() ? json(isoClockTime(video.start.utcMs, content.zone)) : json()},
             {"span_ms", video.spanMs},
             {"events", video.events.size()}});
        if (video.start.known()) {
            for (const OverviewEvent& event : video.events) {
                placed.push_back({video.start.utcAt(event.startMs), &video, &event});
            }
        }
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.utcMs != b.utcMs) {
            return a.utcMs < b.utcMs;
        }
        return a.video->camera != b.video->camera ? a.video->camera < b.video->camera
                                                  : a.video->video < b.video->video;
    });
    json events = json::array();
    for (const Placed& each : placed) {
        const OverviewVideo& video = *each.video;
        const OverviewEvent& event = *each.event;
        events.push_back(
            {{"camera", video.camera},
             {"video", video.video},
             {"folder", video.folder},
             {"event", event.number},
             {"start_clock_time", isoClockTime(each.utcMs, content.zone)},
             {"end_clock_time", isoClockTime(video.start.utcAt(event.endMs), content.zone)},
             {"start_ms", event.startMs},
             {"end_ms", event.endMs},
             {"snapshots", event.snapshots},
             {"peak_pixels", event.peakPixels},
             {"peak_file", event.peakFile},
             {"clip", event.clip.empty() ? json() : json(event.clip)}});
    }
    const json document = {{"schema", "pelmora-day-events"},
                           {"version", kDayEventsVersion},
                           {"time_zone", content.zone.name()},
                           {"videos", videos},
                           {"events", events}};
    return dumped(document);
}

}  // namespace pelmora
