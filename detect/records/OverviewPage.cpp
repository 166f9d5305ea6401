#include "OverviewPage.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "FolderNames.h"
#include "HtmlText.h"
#include "TextFormat.h"
#include "Version.h"

namespace pelmora {

namespace {

constexpr long long kMinuteMs = 60 * 1000;
constexpr long long kHourMs = 60 * kMinuteMs;
constexpr long long kDayMs = 24 * kHourMs;

// The charts' drawing: a column of camera names, then the clock from left to right.
constexpr double kChartWidth = 1000.0;
// The most an axis label's character takes at 11 px, a digit or a colon, in the chart's units.
constexpr double kAxisCharWidth = 7.0;
constexpr double kLabelWidth = 130.0;
constexpr double kAxisHeight = 22.0;
constexpr double kLaneHeight = 22.0;
constexpr double kLaneGap = 6.0;

const char* const kStyle = R"(<style>
html { background: #f4f5f7; }
body { max-width: 72em; margin: 0 auto; padding: 1.2em 2em 2em 2em; background: #ffffff;
  color: #22262e; font-family: "DejaVu Sans", "Noto Sans", "Liberation Sans", Arial, sans-serif;
  font-size: 14px; line-height: 1.45; }
h1 { font-size: 1.5em; margin: 0.2em 0 0.1em 0; color: #12213f; }
h2 { font-size: 1.15em; margin: 1.4em 0 0.5em 0; color: #12213f;
  border-bottom: 2px solid #d9e6e8; padding-bottom: 0.2em; }
h3 { font-size: 1em; margin: 1em 0 0.2em 0; color: #12213f; }
.span, .none, .made, .legend { color: #5a6372; }
.made { margin-top: 2em; font-size: 0.85em; }
.fact { display: inline-block; vertical-align: top; min-width: 9em; margin: 0 0.5em 0.5em 0;
  padding: 0.35em 0.7em; background: #f3f8f9; border: 1px solid #d9e6e8; border-radius: 5px; }
.fact .label { display: block; font-size: 0.8em; color: #5a6372; }
.fact .value { display: block; font-weight: bold; color: #12213f; }
svg.lanes { display: block; width: 100%; height: auto; }
svg .lane { fill: #f3f6f8; }
svg .camera { fill: #22262e; font-size: 12px; font-family: inherit; }
svg .tick { stroke: #dde2e8; stroke-width: 1; }
svg .axis { fill: #5a6372; font-size: 11px; font-family: inherit; }
svg .footage { fill: #a9d3d8; }
svg .gap { fill: #f6d6d3; stroke: #c2413a; stroke-width: 0.6; stroke-dasharray: 3 2; }
svg .overlap { fill: #7a4fb5; fill-opacity: 0.45; }
svg .mark { fill: #e9822f; }
svg a:hover .mark { fill: #c2413a; }
.swatch { display: inline-block; width: 1.6em; height: 0.8em; margin: 0 0.3em 0 0.8em;
  vertical-align: middle; }
.swatch.footage { background: #a9d3d8; }
.swatch.gap { background: #f6d6d3; border: 1px dashed #c2413a; }
.swatch.overlap { background: #bca6da; }
.swatch.mark { background: #e9822f; width: 0.4em; }
table.list { border-collapse: collapse; width: 100%; }
table.list th, table.list td { text-align: left; vertical-align: middle;
  padding: 0.3em 0.6em; border-bottom: 1px solid #e1e5ea; }
table.list th { background: #eef2f5; color: #12213f; }
table.list .number { text-align: right; white-space: nowrap; }
.wide { overflow-x: auto; }
table.list .clock { white-space: nowrap; }
table.list img { display: block; width: 120px; height: auto; border: 1px solid #c3c9d2; }
table.list .links a { margin-right: 0.6em; }
.video { font-family: "DejaVu Sans Mono", "Liberation Mono", monospace; font-size: 0.9em;
  word-wrap: break-word; }
@media print {
  html, body { background: #ffffff; }
  body { max-width: none; padding: 0; font-size: 11px; }
  a { color: inherit; text-decoration: none; }
  tr, svg.lanes { page-break-inside: avoid; }
}
</style>
)";

std::string fileNameOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A link to file in a folder below the page, every part of it encoded.
std::string linkTo(const std::string& folder, const std::string& file) {
    std::string link;
    std::string::size_type at = 0;
    while (!folder.empty() && at <= folder.size()) {
        const std::string::size_type slash = std::min(folder.find('/', at), folder.size());
        const std::string part = folder.substr(at, slash - at);
        if (!part.empty() && part != ".") {
            link += relativeLink(part) + "/";
        }
        at = slash + 1;
    }
    return escapeHtml(link + relativeLink(file));
}

std::string reportLink(const OverviewVideo& video, int event) {
    std::string link = linkTo(video.folder, kReportName);
    return event > 0 ? link + "#event-" + std::to_string(event) : link;
}

// 1234567 as "1,234,567".
std::string grouped(long long number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

std::string cameraName(const std::string& camera) {
    return camera.empty() ? std::string("(no folder)") : camera;
}

struct Span {
    long long from = 0;
    long long to = 0;
};

// A stretch between two pieces of footage of one camera: a gap where none was filmed, an
// overlap where two were.
struct Joint {
    std::size_t lane = 0;
    bool gap = false;
    Span span;
};

struct TimedEvent {
    long long utcMs = 0;
    std::size_t lane = 0;
    const OverviewVideo* video = nullptr;
    const OverviewEvent* event = nullptr;
};

struct Layout {
    std::vector<std::string> cameras;  // the lanes, in order
    std::vector<std::vector<Span>> footage;
    std::vector<Joint> joints;
    std::vector<TimedEvent> events;  // in time order
    Span whole;
};

Layout layOut(const OverviewContent& content) {
    Layout layout;
    std::map<std::string, std::size_t> laneOf;
    for (const OverviewVideo& video : content.videos) {
        if (video.start.known()) {
            laneOf.emplace(video.camera, 0);
        }
    }
    for (auto& [camera, lane] : laneOf) {
        lane = layout.cameras.size();
        layout.cameras.push_back(camera);
    }
    layout.footage.resize(layout.cameras.size());
    bool first = true;
    for (const OverviewVideo& video : content.videos) {
        if (!video.start.known()) {
            continue;
        }
        const std::size_t lane = laneOf[video.camera];
        const Span span{video.start.utcMs, video.start.utcMs + std::max(video.spanMs, 0LL)};
        layout.footage[lane].push_back(span);
        layout.whole.from = first ? span.from : std::min(layout.whole.from, span.from);
        layout.whole.to = first ? span.to : std::max(layout.whole.to, span.to);
        first = false;
        for (const OverviewEvent& event : video.events) {
            layout.events.push_back({video.start.utcAt(event.startMs), lane, &video, &event});
        }
    }
    for (std::size_t lane = 0; lane < layout.footage.size(); ++lane) {
        std::vector<Span>& spans = layout.footage[lane];
        std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
            return std::tie(a.from, a.to) < std::tie(b.from, b.to);
        });
        long long reach = spans.front().to;
        for (std::size_t i = 1; i < spans.size(); ++i) {
            const Span& next = spans[i];
            if (next.from > reach + kOverviewGapMs) {
                layout.joints.push_back({lane, true, {reach, next.from}});
            } else if (next.from < reach) {
                layout.joints.push_back({lane, false, {next.from, std::min(reach, next.to)}});
            }
            reach = std::max(reach, next.to);
        }
    }
    std::sort(layout.events.begin(), layout.events.end(),
              [](const TimedEvent& a, const TimedEvent& b) {
                  return std::make_tuple(a.utcMs, a.lane, a.video->video, a.event->number) <
                         std::make_tuple(b.utcMs, b.lane, b.video->video, b.event->number);
              });
    return layout;
}

// The moment at or before utcMs where the zone's clock shows a whole multiple of step (of a
// day at most) since midnight.
long long floorOnClock(long long utcMs, long long step, const TimeZone& zone) {
    const long long offset = zone.offsetAt(utcMs) * 1000LL;
    const long long local = utcMs + offset;
    const long long floored = local - ((local % step) + step) % step;
    return floored - offset;
}

std::string clockOfDay(long long utcMs, const TimeZone& zone, bool withDate,
                       bool withSeconds = false) {
    const CivilTime time = civilFromUtcMs(utcMs + zone.offsetAt(utcMs) * 1000LL);
    return withDate
               ? formatText("%02d-%02d %02d:%02d", time.month, time.day, time.hour, time.minute)
           : withSeconds ? formatText("%02d:%02d:%02d", time.hour, time.minute, time.second)
                         : formatText("%02d:%02d", time.hour, time.minute);
}

// One chart of lanes over the stretch of time, with ticks every step.
std::string laneChart(const Layout& layout, Span range, long long step, const TimeZone& zone,
                      const std::string& title) {
    const double lanes = static_cast<double>(layout.cameras.size());
    const double height = kAxisHeight + lanes * (kLaneHeight + kLaneGap) + kLaneGap;
    const double plot = kChartWidth - kLabelWidth - 10.0;
    const double length = static_cast<double>(std::max(range.to - range.from, 1LL));
    const auto x = [&](long long utc) {
        const long long clamped = std::clamp(utc, range.from, range.to);
        return kLabelWidth + plot * static_cast<double>(clamped - range.from) / length;
    };
    const auto laneY = [&](std::size_t lane) {
        return kAxisHeight + static_cast<double>(lane) * (kLaneHeight + kLaneGap) + kLaneGap / 2;
    };
    std::string svg = formatText(
        "<svg class=\"lanes\" xmlns=\"http://www.w3.org/2000/svg\" "
        "xmlns:xlink=\"http://www.w3.org/1999/xlink\" viewBox=\"0 0 %.0f %.0f\" "
        "role=\"img\" aria-label=\"%s\">\n",
        kChartWidth, height, escapeHtml(title).c_str());
    for (std::size_t lane = 0; lane < layout.cameras.size(); ++lane) {
        svg += formatText(
            "<rect class=\"lane\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
            "height=\"%.0f\"/>\n",
            kLabelWidth, laneY(lane), plot, kLaneHeight);
        svg += formatText("<text class=\"camera\" x=\"4\" y=\"%.1f\">%s</text>\n",
                          laneY(lane) + kLaneHeight * 0.7,
                          escapeHtml(cameraName(layout.cameras[lane])).c_str());
    }
    const bool days = range.to - range.from > kDayMs;
    double labelsEnd = 0.0;
    for (long long tick = floorOnClock(range.from, step, zone); tick <= range.to; tick += step) {
        if (tick < range.from) {
            continue;
        }
        svg +=
            formatText("<line class=\"tick\" x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.1f\"/>\n",
                       x(tick), kAxisHeight - 4, x(tick), height);
        // A label that would run past the chart's right edge ends at its tick instead, where
        // that leaves the label before it whole; else the tick goes without.
        const std::string label = clockOfDay(tick, zone, days, step < kMinuteMs);
        const double width = static_cast<double>(label.size()) * kAxisCharWidth;
        const bool pastEdge = x(tick) + 2 + width > kChartWidth;
        if (pastEdge && x(tick) - 2 - width < labelsEnd) {
            continue;
        }
        svg += formatText("<text class=\"axis\" x=\"%.1f\" y=\"%.0f\"%s>%s</text>\n",
                          pastEdge ? x(tick) - 2 : x(tick) + 2, kAxisHeight - 8,
                          pastEdge ? " text-anchor=\"end\"" : "", label.c_str());
        labelsEnd = pastEdge ? x(tick) : x(tick) + 2 + width;
    }
    const auto shown = [&](Span span) { return span.to >= range.from && span.from <= range.to; };
    const auto rect = [&](const char* kind, std::size_t lane, Span span, double inset) {
        return formatText(
            "<rect class=\"%s\" data-camera=\"%s\" data-from=\"%s\" data-to=\"%s\" x=\"%.2f\" "
            "y=\"%.1f\" width=\"%.2f\" height=\"%.1f\"><title>%s %s to %s</title></rect>\n",
            kind, escapeHtml(layout.cameras[lane]).c_str(), isoClockTime(span.from, zone).c_str(),
            isoClockTime(span.to, zone).c_str(), x(span.from), laneY(lane) + inset,
            std::max(x(span.to) - x(span.from), 0.5), kLaneHeight - 2 * inset,
            escapeHtml(cameraName(layout.cameras[lane])).c_str(),
            readableClockTime(span.from, zone).c_str(), readableClockTime(span.to, zone).c_str());
    };
    for (std::size_t lane = 0; lane < layout.footage.size(); ++lane) {
        for (const Span& span : layout.footage[lane]) {
            if (shown(span)) {
                svg += rect("footage", lane, span, 4.0);
            }
        }
    }
    for (const Joint& joint : layout.joints) {
        if (shown(joint.span)) {
            svg +=
                rect(joint.gap ? "gap" : "overlap", joint.lane, joint.span, joint.gap ? 7.0 : 2.0);
        }
    }
    for (const TimedEvent& timed : layout.events) {
        const OverviewEvent& event = *timed.event;
        const Span span{timed.utcMs, timed.utcMs + event.endMs - event.startMs};
        if (!shown(span)) {
            continue;
        }
        svg += formatText(
            "<a xlink:href=\"%s\"><rect class=\"mark\" data-camera=\"%s\" data-clock=\"%s\" "
            "x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.0f\"><title>%s %s, event %d of "
            "%s</title></rect></a>\n",
            reportLink(*timed.video, event.number).c_str(),
            escapeHtml(layout.cameras[timed.lane]).c_str(), isoClockTime(timed.utcMs, zone).c_str(),
            x(span.from) - 0.75, laneY(timed.lane) + 1,
            std::max(x(span.to) - x(span.from), 0.0) + 1.5, kLaneHeight - 2,
            escapeHtml(cameraName(layout.cameras[timed.lane])).c_str(),
            readableClockTime(timed.utcMs, zone).c_str(), event.number,
            escapeHtml(fileNameOf(timed.video->video)).c_str());
    }
    return svg + "</svg>\n";
}

// The step of the whole chart's ticks: the shortest of these that leaves 24 ticks at most, and
// of those shorter than ten minutes, whose labels are longer, 12 at most; a few minutes of
// footage get ticks of their own, not one at their start.
long long tickStep(long long length) {
    constexpr long long kSecondMs = 1000;
    for (const long long step :
         {kSecondMs, 2 * kSecondMs, 5 * kSecondMs, 10 * kSecondMs, 15 * kSecondMs, 30 * kSecondMs,
          kMinuteMs, 2 * kMinuteMs, 5 * kMinuteMs}) {
        if (length / step <= 12) {
            return step;
        }
    }
    for (const long long step : {10 * kMinuteMs, 15 * kMinuteMs, 30 * kMinuteMs, kHourMs,
                                 2 * kHourMs, 3 * kHourMs, 6 * kHourMs, 12 * kHourMs, kDayMs}) {
        if (length / step <= 24) {
            return step;
        }
    }
    return kDayMs;
}

std::string legend() {
    return "<p class=\"legend\"><span class=\"swatch footage\"></span>footage"
           "<span class=\"swatch gap\"></span>a gap of more than " +
           plainSeconds(kOverviewGapMs) +
           "<span class=\"swatch overlap\"></span>footage filmed twice"
           "<span class=\"swatch mark\"></span>an event (a click shows it in its report)</p>\n";
}

std::string charts(const Layout& layout, const TimeZone& zone) {
    std::string html = "<h2>The whole time</h2>\n";
    const Span whole = layout.whole;
    html += laneChart(layout, whole, tickStep(whole.to - whole.from), zone, "All cameras");
    html += legend();
    // Hour by hour, for the hours that have footage: a mark a second wide, or nearly.
    html += "<h2>Hour by hour</h2>\n";
    for (long long hour = floorOnClock(whole.from, kHourMs, zone); hour < whole.to;
         hour += kHourMs) {
        const Span band{hour, hour + kHourMs};
        bool filmed = false;
        for (const std::vector<Span>& spans : layout.footage) {
            for (const Span& span : spans) {
                filmed = filmed || (span.to > band.from && span.from < band.to);
            }
        }
        if (!filmed) {
            continue;
        }
        // "2024-05-01 08:00 to 09:00"; where the clocks change in or just before the hour,
        // each end with its offset, as "02:00 to 02:00" would not tell the hour shown twice.
        const std::string from = readableClockTime(band.from, zone);
        const std::string to = readableClockTime(band.to, zone);
        const bool changes = zone.offsetAt(band.from) != zone.offsetAt(band.to) ||
                             zone.offsetAt(band.from) != zone.offsetAt(band.from - kHourMs);
        const std::string title =
            changes
                ? from.substr(0, 16) + from.substr(19) + " to " + to.substr(11, 5) + to.substr(19)
                : from.substr(0, 16) + " to " + clockOfDay(band.to, zone, false);
        html += "<h3 class=\"hour\">" + escapeHtml(title) + "</h3>\n";
        html += laneChart(layout, band, 10 * kMinuteMs, zone, title);
    }
    return html;
}

std::string joints(const Layout& layout, const TimeZone& zone) {
    if (layout.joints.empty()) {
        return "<p class=\"none\">Every camera's footage runs on without a gap or an "
               "overlap.</p>\n";
    }
    std::string html =
        "<div class=\"wide\"><table class=\"list "
        "joints\">\n<thead><tr><th>Camera</th><th>What</th><th>From</th>"
        "<th>To</th><th class=\"number\">Length</th></tr></thead>\n<tbody>\n";
    for (const Joint& joint : layout.joints) {
        html += "<tr class=\"" + std::string(joint.gap ? "gap" : "overlap") + "\"><td>" +
                escapeHtml(cameraName(layout.cameras[joint.lane])) + "</td><td>" +
                (joint.gap ? "gap" : "overlap") + "</td><td class=\"clock\">" +
                readableClockTime(joint.span.from, zone) + "</td><td class=\"clock\">" +
                readableClockTime(joint.span.to, zone) + "</td><td class=\"number\">" +
                plainSeconds(joint.span.to - joint.span.from) + "</td></tr>\n";
    }
    return html + "</tbody>\n</table></div>\n";
}

std::string eventList(const Layout& layout, const OverviewContent& content) {
    if (layout.events.empty()) {
        return "<p class=\"none\">No camera's footage of known time has an event.</p>\n";
    }
    std::string html =
        "<div class=\"wide\"><table class=\"list events\">\n<thead><tr><th>Clock "
        "time</th><th>Camera</th>"
        "<th>Video</th><th class=\"number\">Event</th><th class=\"number\">Length</th>"
        "<th class=\"number\">Snapshots</th><th>Picture</th><th>Links</th></tr>"
        "</thead>\n<tbody>\n";
    for (std::size_t i = 0; i < layout.events.size(); ++i) {
        const TimedEvent& timed = layout.events[i];
        const OverviewVideo& video = *timed.video;
        const OverviewEvent& event = *timed.event;
        const std::string snapshot = linkTo(video.folder, event.pictureFile);
        std::string thumbnail;
        if (i < kOverviewThumbnails && content.thumbnail) {
            thumbnail = content.thumbnail(video, event);
        }
        const std::string name = escapeHtml(event.pictureFile);
        const std::string peak = thumbnail.empty() ? "<a href=\"" + snapshot + "\">" + name + "</a>"
                                                   : "<a href=\"" + snapshot + "\" title=\"" +
                                                         name + "\"><img src=\"" + thumbnail +
                                                         "\" alt=\"" + name + "\"></a>";
        std::string links = "<a class=\"snapshot\" href=\"" + snapshot + "\">snapshot</a>";
        if (!event.clip.empty()) {
            links += "<a class=\"clip\" href=\"" + linkTo(video.folder, event.clip) + "\">clip</a>";
        }
        if (video.report) {
            links +=
                "<a class=\"report\" href=\"" + reportLink(video, event.number) + "\">report</a>";
        }
        html += "<tr class=\"event\" data-camera=\"" + escapeHtml(video.camera) +
                "\" data-clock=\"" + isoClockTime(timed.utcMs, content.zone) +
                "\"><td class=\"clock\">" + readableClockTime(timed.utcMs, content.zone) +
                "</td><td>" + escapeHtml(cameraName(video.camera)) + "</td><td class=\"video\" " +
                "title=\"" + escapeHtml(video.video) + "\">" + escapeHtml(fileNameOf(video.video)) +
                "</td><td class=\"number\">" + std::to_string(event.number) +
                "</td><td class=\"number\">" + plainSeconds(event.endMs - event.startMs) +
                "</td><td class=\"number\">" + grouped(event.snapshots) + "</td><td>" + peak +
                "</td><td class=\"links\">" + links + "</td></tr>\n";
    }
    html += "</tbody>\n</table></div>\n";
    if (layout.events.size() > kOverviewThumbnails) {
        html += "<p class=\"none\">The first " + grouped(kOverviewThumbnails) +
                " events show their picture; the later ones link to it.</p>\n";
    }
    return html;
}

std::string withoutStart(const OverviewContent& content) {
    std::vector<const OverviewVideo*> videos;
    for (const OverviewVideo& video : content.videos) {
        if (!video.start.known()) {
            videos.push_back(&video);
        }
    }
    if (videos.empty()) {
        return std::string();
    }
    std::sort(videos.begin(), videos.end(), [](const OverviewVideo* a, const OverviewVideo* b) {
        return std::tie(a->camera, a->video) < std::tie(b->camera, b->video);
    });
    std::string html =
        "<h2>Videos without a known start</h2>\n<p class=\"none\">Neither the name nor the file "
        "tells when these were filmed; their events are at these times in the video.</p>\n"
        "<div class=\"wide\"><table class=\"list "
        "unknown\">\n<thead><tr><th>Camera</th><th>Video</th>"
        "<th>Events</th></tr></thead>\n<tbody>\n";
    constexpr std::size_t kListed = 50;
    for (const OverviewVideo* video : videos) {
        std::string events;
        for (std::size_t i = 0; i < std::min(video->events.size(), kListed); ++i) {
            const OverviewEvent& event = video->events[i];
            const std::string text =
                std::to_string(event.number) + " at " + timecode(event.startMs);
            events += (i == 0 ? "" : ", ") +
                      (video->report
                           ? "<a href=\"" + reportLink(*video, event.number) + "\">" + text + "</a>"
                           : text);
        }
        if (video->events.size() > kListed) {
            events += ", and " + grouped(static_cast<long long>(video->events.size() - kListed)) +
                      " more";
        }
        const std::string name = escapeHtml(fileNameOf(video->video));
        html +=
            "<tr><td>" + escapeHtml(cameraName(video->camera)) + "</td><td class=\"video\" " +
            "title=\"" + escapeHtml(video->video) + "\">" +
            (video->report ? "<a href=\"" + reportLink(*video, 0) + "\">" + name + "</a>" : name) +
            "</td><td>" + (events.empty() ? std::string("none") : events) + "</td></tr>\n";
    }
    return html + "</tbody>\n</table></div>\n";
}

}  // namespace

std::string cameraOfVideo(const std::string& videoPath) {
    std::string folder = videoPath;
    for (int up = 0; up < 2; ++up) {
        const std::string::size_type slash = folder.rfind('/');
        if (slash == std::string::npos) {
            return std::string();
        }
        folder.erase(slash);
        const std::string::size_type before = folder.rfind('/');
        const std::string name = before == std::string::npos ? folder : folder.substr(before + 1);
        if (name.empty() || name == "." || name == "..") {
            return std::string();
        }
        if (up == 0 && isDateFolderName(name)) {
            continue;
        }
        return name;
    }
    return std::string();
}

std::string overviewPage(const OverviewContent& content) {
    const Layout layout = layOut(content);
    long long events = 0;
    std::size_t unknown = 0;
    std::map<std::string, int> cameras;
    for (const OverviewVideo& video : content.videos) {
        events += static_cast<long long>(video.events.size());
        unknown += video.start.known() ? 0 : 1;
        cameras[video.camera] = 1;
    }
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    const std::string title =
        formatText("Motion on %zu camera%s", cameras.size(), cameras.size() == 1 ? "" : "s");
    html += "<title>" + title + "</title>\n" + kStyle + "</head>\n<body>\n";
    html += "<h1>" + title + "</h1>\n";
    if (!layout.cameras.empty()) {
        html += "<p class=\"span\">From " + readableClockTime(layout.whole.from, content.zone) +
                " to " + readableClockTime(layout.whole.to, content.zone) +
                ", every time on the "
                "clock of " +
                escapeHtml(content.zone.name()) + "</p>\n";
    }
    const auto fact = [](const char* label, const std::string& value) {
        return "<div class=\"fact\"><span class=\"label\">" + std::string(label) +
               "</span><span class=\"value\">" + value + "</span></div>\n";
    };
    html += "<div class=\"facts\">\n" +
            fact("Cameras", grouped(static_cast<long long>(cameras.size()))) +
            fact("Videos", grouped(static_cast<long long>(content.videos.size()))) +
            fact("Events", grouped(events)) +
            fact("Gaps", grouped(std::count_if(layout.joints.begin(), layout.joints.end(),
                                               [](const Joint& j) { return j.gap; }))) +
            fact("Overlaps", grouped(std::count_if(layout.joints.begin(), layout.joints.end(),
                                                   [](const Joint& j) { return !j.gap; }))) +
            fact("Without a start", grouped(static_cast<long long>(unknown))) + "</div>\n";
    if (layout.cameras.empty()) {
        html +=
            "<p class=\"none\">No video's start is known, so none can be put on the "
            "clock.</p>\n";
    } else {
        html += charts(layout, content.zone);
        html += "<h2>Gaps and overlaps</h2>\n" + joints(layout, content.zone);
        html += "<h2>Events</h2>\n";
        if (content.digest) {
            html += std::string(
                        "<p class=\"lists\">Every event of the day in one video, in clock "
                        "order: <a href=\"") +
                    kDayDigestName + "\">" + kDayDigestName + "</a></p>\n";
        }
        html += eventList(layout, content);
    }
    html += withoutStart(content);
    html += "<p class=\"made\">Made by Pelmora " + escapeHtml(kVersion) +
            (content.madeAt.empty() ? std::string() : " on " + escapeHtml(content.madeAt)) +
            "</p>\n";
    return html + "</body>\n</html>\n";
}

}  // namespace pelmora
