#include "OverviewPage.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "FolderNames.h"
#include "HtmlText.h"
#include "PageSkeleton.h"
#include "PageTemplates.h"
#include "TextFormat.h"

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

// A link to file in a folder below the page, every part of it encoded; the template escapes
// it for HTML.
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
    return link + relativeLink(file);
}

std::string reportLink(const OverviewVideo& video, int event) {
    std::string link = linkTo(video.folder, kReportName);
    return event > 0 ? link + "#event-" + std::to_string(event) : link;
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

// One chart of lanes over the stretch of time, with ticks every step, for lanes.mustache.
PageData laneChart(const Layout& layout, Span range, long long step, const TimeZone& zone,
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
    PageData chart;
    chart["width"] = formatText("%.0f", kChartWidth);
    chart["height"] = formatText("%.0f", height);
    chart["label"] = title;
    PageList laneRows;
    for (std::size_t lane = 0; lane < layout.cameras.size(); ++lane) {
        PageData row;
        row["x"] = formatText("%.1f", kLabelWidth);
        row["y"] = formatText("%.1f", laneY(lane));
        row["width"] = formatText("%.1f", plot);
        row["height"] = formatText("%.0f", kLaneHeight);
        row["textY"] = formatText("%.1f", laneY(lane) + kLaneHeight * 0.7);
        row["camera"] = cameraName(layout.cameras[lane]);
        laneRows.push_back(std::move(row));
    }
    chart["lanes"] = PageData(laneRows);
    const bool days = range.to - range.from > kDayMs;
    double labelsEnd = 0.0;
    PageList ticks;
    for (long long tick = floorOnClock(range.from, step, zone); tick <= range.to; tick += step) {
        if (tick < range.from) {
            continue;
        }
        PageData line;
        line["x"] = formatText("%.1f", x(tick));
        line["top"] = formatText("%.0f", kAxisHeight - 4);
        line["bottom"] = formatText("%.1f", height);
        line["axisLabel"] = false;
        // A label that would run past the chart's right edge ends at its tick instead, where
        // that leaves the label before it whole; else the tick goes without.
        const std::string label = clockOfDay(tick, zone, days, step < kMinuteMs);
        const double width = static_cast<double>(label.size()) * kAxisCharWidth;
        const bool pastEdge = x(tick) + 2 + width > kChartWidth;
        if (!pastEdge || x(tick) - 2 - width >= labelsEnd) {
            PageData text;
            text["x"] = formatText("%.1f", pastEdge ? x(tick) - 2 : x(tick) + 2);
            text["y"] = formatText("%.0f", kAxisHeight - 8);
            text["end"] = pastEdge;
            text["text"] = label;
            line["axisLabel"] = std::move(text);
            labelsEnd = pastEdge ? x(tick) : x(tick) + 2 + width;
        }
        ticks.push_back(std::move(line));
    }
    chart["ticks"] = PageData(ticks);
    const auto shown = [&](Span span) { return span.to >= range.from && span.from <= range.to; };
    PageList stretches;
    const auto stretch = [&](const char* kind, std::size_t lane, Span span, double inset) {
        PageData rect;
        rect["kind"] = kind;
        rect["camera"] = layout.cameras[lane];
        rect["from"] = isoClockTime(span.from, zone);
        rect["to"] = isoClockTime(span.to, zone);
        rect["x"] = formatText("%.2f", x(span.from));
        rect["y"] = formatText("%.1f", laneY(lane) + inset);
        rect["width"] = formatText("%.2f", std::max(x(span.to) - x(span.from), 0.5));
        rect["height"] = formatText("%.1f", kLaneHeight - 2 * inset);
        rect["name"] = cameraName(layout.cameras[lane]);
        rect["fromText"] = readableClockTime(span.from, zone);
        rect["toText"] = readableClockTime(span.to, zone);
        stretches.push_back(std::move(rect));
    };
    for (std::size_t lane = 0; lane < layout.footage.size(); ++lane) {
        for (const Span& span : layout.footage[lane]) {
            if (shown(span)) {
                stretch("footage", lane, span, 4.0);
            }
        }
    }
    for (const Joint& joint : layout.joints) {
        if (shown(joint.span)) {
            stretch(joint.gap ? "gap" : "overlap", joint.lane, joint.span, joint.gap ? 7.0 : 2.0);
        }
    }
    chart["stretches"] = PageData(stretches);
    PageList marks;
    for (const TimedEvent& timed : layout.events) {
        const OverviewEvent& event = *timed.event;
        const Span span{timed.utcMs, timed.utcMs + event.endMs - event.startMs};
        if (!shown(span)) {
            continue;
        }
        PageData mark;
        mark["href"] = reportLink(*timed.video, event.number);
        mark["camera"] = layout.cameras[timed.lane];
        mark["clock"] = isoClockTime(timed.utcMs, zone);
        mark["x"] = formatText("%.2f", x(span.from) - 0.75);
        mark["y"] = formatText("%.1f", laneY(timed.lane) + 1);
        mark["width"] = formatText("%.2f", std::max(x(span.to) - x(span.from), 0.0) + 1.5);
        mark["height"] = formatText("%.0f", kLaneHeight - 2);
        mark["name"] = cameraName(layout.cameras[timed.lane]);
        mark["when"] = readableClockTime(timed.utcMs, zone);
        mark["number"] = std::to_string(event.number);
        mark["video"] = fileNameOf(timed.video->video);
        marks.push_back(std::move(mark));
    }
    chart["marks"] = PageData(marks);
    return chart;
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

// Hour by hour, for the hours that have footage: a mark a second wide, or nearly.
PageList hours(const Layout& layout, const TimeZone& zone) {
    PageList list;
    const Span whole = layout.whole;
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
        PageData each;
        each["heading"] = title;
        each["chart"] = laneChart(layout, band, 10 * kMinuteMs, zone, title);
        list.push_back(std::move(each));
    }
    return list;
}

PageList joints(const Layout& layout, const TimeZone& zone) {
    PageList list;
    for (const Joint& joint : layout.joints) {
        PageData row;
        row["kind"] = joint.gap ? "gap" : "overlap";
        row["camera"] = cameraName(layout.cameras[joint.lane]);
        row["from"] = readableClockTime(joint.span.from, zone);
        row["to"] = readableClockTime(joint.span.to, zone);
        row["length"] = plainSeconds(joint.span.to - joint.span.from);
        list.push_back(std::move(row));
    }
    return list;
}

PageList eventRows(const Layout& layout, const OverviewContent& content) {
    PageList list;
    for (std::size_t i = 0; i < layout.events.size(); ++i) {
        const TimedEvent& timed = layout.events[i];
        const OverviewVideo& video = *timed.video;
        const OverviewEvent& event = *timed.event;
        std::string thumbnail;
        if (i < kOverviewThumbnails && content.thumbnail) {
            thumbnail = content.thumbnail(video, event);
        }
        PageData row;
        row["camera"] = video.camera;
        row["clock"] = isoClockTime(timed.utcMs, content.zone);
        row["when"] = readableClockTime(timed.utcMs, content.zone);
        row["cameraName"] = cameraName(video.camera);
        row["video"] = video.video;
        row["videoName"] = fileNameOf(video.video);
        row["number"] = std::to_string(event.number);
        row["length"] = plainSeconds(event.endMs - event.startMs);
        row["snapshots"] = groupedNumber(event.snapshots);
        row["picture"] = event.pictureFile;
        row["snapshot"] = linkTo(video.folder, event.pictureFile);
        row["thumbnail"] = optionalText(thumbnail);
        row["clip"] =
            event.clip.empty() ? PageData(false) : PageData(linkTo(video.folder, event.clip));
        row["report"] = video.report ? PageData(reportLink(video, event.number)) : PageData(false);
        list.push_back(std::move(row));
    }
    return list;
}

// The videos whose start is not known, by camera and name, each with its events' times in the
// video, the first 50 of them.
PageList withoutStart(const OverviewContent& content) {
    std::vector<const OverviewVideo*> videos;
    for (const OverviewVideo& video : content.videos) {
        if (!video.start.known()) {
            videos.push_back(&video);
        }
    }
    std::sort(videos.begin(), videos.end(), [](const OverviewVideo* a, const OverviewVideo* b) {
        return std::tie(a->camera, a->video) < std::tie(b->camera, b->video);
    });
    constexpr std::size_t kListed = 50;
    PageList list;
    for (const OverviewVideo* video : videos) {
        PageList events;
        for (std::size_t i = 0; i < std::min(video->events.size(), kListed); ++i) {
            const OverviewEvent& event = video->events[i];
            PageData each;
            each["first"] = i == 0;
            each["text"] = std::to_string(event.number) + " at " + timecode(event.startMs);
            each["href"] =
                video->report ? PageData(reportLink(*video, event.number)) : PageData(false);
            events.push_back(std::move(each));
        }
        PageData row;
        row["camera"] = cameraName(video->camera);
        row["video"] = video->video;
        row["name"] = fileNameOf(video->video);
        row["report"] = video->report ? PageData(reportLink(*video, 0)) : PageData(false);
        row["events"] = PageData(events);
        row["more"] =
            video->events.size() > kListed
                ? PageData(groupedNumber(static_cast<long long>(video->events.size() - kListed)))
                : PageData(false);
        list.push_back(std::move(row));
    }
    return list;
}

}  // namespace

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
    const std::string title =
        formatText("Motion on %zu camera%s", cameras.size(), cameras.size() == 1 ? "" : "s");
    const bool onClock = !layout.cameras.empty();
    PageData page;
    page["span"] = false;
    if (onClock) {
        PageData span;
        span["from"] = readableClockTime(layout.whole.from, content.zone);
        span["to"] = readableClockTime(layout.whole.to, content.zone);
        span["zone"] = content.zone.name();
        page["span"] = std::move(span);
    }
    const auto count = [&](bool gap) {
        return groupedNumber(std::count_if(layout.joints.begin(), layout.joints.end(),
                                           [gap](const Joint& joint) { return joint.gap == gap; }));
    };
    page["factGroups"] = PageData(PageList{
        factGroup({pageFact("Cameras", groupedNumber(static_cast<long long>(cameras.size()))),
                   pageFact("Videos", groupedNumber(static_cast<long long>(content.videos.size()))),
                   pageFact("Events", groupedNumber(events)), pageFact("Gaps", count(true)),
                   pageFact("Overlaps", count(false)),
                   pageFact("Without a start", groupedNumber(static_cast<long long>(unknown)))})});
    page["onClock"] = onClock;
    if (onClock) {
        const Span whole = layout.whole;
        page["whole"] =
            laneChart(layout, whole, tickStep(whole.to - whole.from), content.zone, "All cameras");
        page["gap"] = plainSeconds(kOverviewGapMs);
        page["hours"] = PageData(hours(layout, content.zone));
        page["joints"] = PageData(joints(layout, content.zone));
        page["jointTable"] = !layout.joints.empty();
        page["dayDigest"] =
            content.digest ? PageData(std::string(kDayDigestName)) : PageData(false);
        page["events"] = PageData(eventRows(layout, content));
        page["eventTable"] = !layout.events.empty();
        page["moreThanShown"] = layout.events.size() > kOverviewThumbnails;
        page["shown"] = groupedNumber(static_cast<long long>(kOverviewThumbnails));
    }
    const PageList videos = withoutStart(content);
    page["unknownTable"] = !videos.empty();
    page["withoutStart"] = PageData(videos);
    return renderPage(page, title, content.madeAt, kOverviewTemplate, kOverviewStyle);
}

}  // namespace pelmora
