#include "ReportPage.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <opencv2/imgproc.hpp>

#include "FolderNames.h"
#include "FrameClock.h"
#include "HtmlText.h"
#include "JpegDecoder.h"
#include "JpegEncoder.h"
#include "PageStyle.h"
#include "RunRecorder.h"
#include "TextFormat.h"
#include "TimelineChart.h"
#include "Version.h"

namespace pelmora {

namespace {

// Enough for a picture seen 160 pixels wide, in a fraction of the bytes of the snapshot.
constexpr int kThumbnailQuality = 80;

// The rules of this page alone, after those every page shares.
const char* const kStyle = R"(
.fact.bad .value { color: #c2413a; }
.fact .source { font-weight: normal; color: #5a6372; font-size: 0.85em; }
table.events .clock { white-space: nowrap; }
.stopped { color: #c2413a; }
svg.timeline { display: block; width: 100%; height: auto; }
svg .grid { stroke: #e4e8ed; stroke-width: 1; }
svg .tick, svg .axis-line { stroke: #8a93a2; stroke-width: 1; }
svg .axis { fill: #5a6372; font-size: 11px; font-family: inherit; }
svg .event { fill: #e9822f; fill-opacity: 0.22; }
svg .range { fill: #7fb8c0; stroke: #7fb8c0; stroke-width: 0.6; }
svg .most { fill: none; stroke: #13707a; stroke-width: 1.2; stroke-linejoin: round; }
svg .trigger { stroke: #c2413a; stroke-width: 1.5; stroke-dasharray: 6 4; }
svg .trigger-label { fill: #c2413a; font-size: 11px; font-family: inherit; }
.legend { margin: 0.4em 0 0 0; color: #5a6372; font-size: 0.9em; }
.swatch { display: inline-block; width: 1.6em; height: 0.8em; margin: 0 0.3em 0 0.8em;
  vertical-align: middle; }
.swatch.range { background: #7fb8c0; border-top: 2px solid #13707a; }
.swatch.event { background: #f8dcc3; }
.swatch.trigger { height: 0; border-top: 2px dashed #c2413a; }
table.events { border-collapse: collapse; width: 100%; }
table.events th, table.events td { text-align: left; vertical-align: middle;
  padding: 0.3em 0.5em; border-bottom: 1px solid #e1e5ea; }
table.events th { background: #eef2f5; color: #12213f; }
table.events .number { text-align: right; white-space: nowrap; }
table.events img { display: block; width: 120px; height: auto; border: 1px solid #c3c9d2; }
.wide { overflow-x: auto; }
table.events .file { font-size: 0.85em; }
.none, .lists, .made { color: #5a6372; }
.made { margin-top: 2em; font-size: 0.85em; }
.lost { color: #c2413a; }
@media print {
  html, body { background: #ffffff; }
  body { max-width: none; padding: 0; font-size: 11px; }
  a { color: inherit; text-decoration: none; }
  tr, .fact, svg.timeline { page-break-inside: avoid; }
}
</style>
)";

std::string fact(const std::string& label, const std::string& value, bool bad = false) {
    return "<div class=\"fact" + std::string(bad ? " bad" : "") + "\"><span class=\"label\">" +
           label + "</span><span class=\"value\">" + value + "</span></div>\n";
}

std::string fileNameOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string rateText(const RunFacts& facts) {
    if (!usableFrameRate(facts.fps)) {
        return "not given";
    }
    std::string rate = formatText("%.3f", facts.fps);
    rate.erase(rate.find_last_not_of('0') + 1);
    if (rate.back() == '.') {
        rate.pop_back();
    }
    return rate + " frames/s";
}

std::string header(const ReportContent& content) {
    const RunFacts& facts = content.facts;
    const RunReport& report = content.report;
    std::string html = "<h1>Motion in " + escapeHtml(fileNameOf(facts.videoPath)) + "</h1>\n";
    html += "<p class=\"video\">" + escapeHtml(facts.videoPath) + "</p>\n";
    if (report.status == RunReport::Status::Stopped) {
        html += "<p class=\"stopped\">The run was stopped after " +
                groupedNumber(report.framesRead) +
                " frames: this page shows what it had read by then.</p>\n";
    } else if (report.status == RunReport::Status::Failed) {
        html += "<p class=\"stopped\">The video could not be read through (" +
                escapeHtml(report.failure) + "): this page shows the " +
                groupedNumber(report.framesRead) + " frames read before.</p>\n";
    }
    // The video, how the run looked at it, and what it found: a line each.
    html += "<div class=\"facts\">\n";
    html += fact("Frame size",
                 facts.frameSize.area() > 0
                     ? formatText("%d &#215; %d", facts.frameSize.width, facts.frameSize.height)
                     : std::string("not given"));
    html += fact("Frame rate", rateText(facts));
    html += fact("Duration", timecode(content.durationMs));
    html += fact("Frames read", escapeHtml(framesText(report)));
    html += "</div>\n<div class=\"facts\">\n";
    html += fact("Threshold", std::to_string(facts.threshold));
    html += fact("Trigger", "more than " + groupedNumber(facts.minPixels) + " pixels");
    html += fact("Watched region", facts.wholeFrame ? std::string("whole frame")
                                                    : escapeHtml(fileNameOf(facts.watchedRegion)));
    html += fact("Event gap", plainSeconds(content.eventGapMs));
    if (facts.start.known()) {
        html +=
            fact("First frame", escapeHtml(readableClockTime(facts.start.utcMs, facts.start.zone)) +
                                    " <span class=\"source\">" +
                                    startSourceText(facts.start.source) + "</span>");
    }
    html += "</div>\n<div class=\"facts\">\n";
    html += fact("Snapshots written", groupedNumber(report.snapshotsWritten));
    html += fact("Snapshots lost", groupedNumber(report.snapshotsLost), report.snapshotsLost > 0);
    html += fact("Events", groupedNumber(static_cast<long long>(content.events.size())));
    return html + "</div>\n";
}

// The clip that shows the event: a link where it was saved. A clip that several events share
// is linked from each.
std::string clipCell(const ReportContent& content, int event) {
    for (const ClipOutcome& clip : content.clips) {
        if (std::find(clip.events.begin(), clip.events.end(), event) == clip.events.end()) {
            continue;
        }
        const std::string name = escapeHtml(clip.file);
        return clip.saved ? "<td class=\"clip\"><a href=\"" + escapeHtml(relativeLink(clip.file)) +
                                "\">" + name + "</a></td>"
                          : "<td class=\"clip\"><span class=\"lost\">" + name +
                                " was not saved</span></td>";
    }
    return "<td class=\"clip\"></td>";
}

std::string eventTable(const ReportContent& content) {
    if (content.events.empty()) {
        return "<p class=\"none\">No frame changed enough to be saved.</p>\n";
    }
    const cv::Size size = content.facts.frameSize;
    const int width = std::min(kThumbnailWidth, size.width);
    const std::string thumbnailSize =
        size.area() > 0 ? formatText(" width=\"%d\" height=\"%d\"", width,
                                     static_cast<int>(std::lround(static_cast<double>(width) *
                                                                  size.height / size.width)))
                        : std::string();
    const VideoStart& start = content.facts.start;
    std::string html =
        "<div class=\"wide\"><table class=\"events\">\n<thead><tr><th "
        "class=\"number\">Event</th><th>Start</th>" +
        std::string(start.known() ? "<th>Clock time</th>" : "") +
        "<th>End</th><th class=\"number\">Snapshots</th><th class=\"number\">Peak pixels</th>"
        "<th>Picture</th>" +
        std::string(content.clipsWanted ? "<th>Clip</th>" : "") + "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < content.events.size(); ++i) {
        const MotionEvent& event = content.events[i];
        const std::string name = escapeHtml(event.pictureFile);
        const std::string link = escapeHtml(relativeLink(event.pictureFile));
        const std::string file = "<a class=\"file\" href=\"" + link + "\">" + name + "</a>";
        std::string peak = "<span class=\"lost\">" + name + " was not saved</span>";
        if (i < content.thumbnails.size() && !content.thumbnails[i].empty()) {
            peak = "<a href=\"" + link + "\" title=\"" + name + "\"><img src=\"" +
                   content.thumbnails[i] + "\" alt=\"" + name + "\"" + thumbnailSize + "></a>" +
                   file;
        } else if (event.pictureSaved) {
            peak = file;
        }
        // The overview of a batch links to each event by its number.
        html +=
            "<tr id=\"event-" + std::to_string(event.number) + "\"><td class=\"number\">" +
            std::to_string(event.number) + "</td><td>" + timecode(event.startMs) +
            (start.known()
                 ? "</td><td class=\"clock\">" +
                       escapeHtml(readableClockTime(start.utcAt(event.startMs), start.zone)) + ""
                 : std::string()) +
            "</td><td>" + timecode(event.endMs) + "</td><td class=\"number\">" +
            groupedNumber(event.snapshots) + "</td><td class=\"number\">" +
            groupedNumber(event.peakPixels) + "</td><td>" + peak + "</td>" +
            (content.clipsWanted ? clipCell(content, event.number) : "") + "</tr>\n";
    }
    html += "</tbody>\n</table></div>\n";
    if (content.events.size() > kEmbeddedThumbnails) {
        html += "<p class=\"none\">The first " +
                groupedNumber(static_cast<long long>(kEmbeddedThumbnails)) +
                " events show their picture; the others link to it in the folder of this "
                "page.</p>\n";
    }
    return html;
}

std::string base64(const std::vector<uchar>& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        const std::size_t left = bytes.size() - at;
        const unsigned group = static_cast<unsigned>(bytes[at]) << 16 |
                               (left > 1 ? static_cast<unsigned>(bytes[at + 1]) << 8 : 0U) |
                               (left > 2 ? static_cast<unsigned>(bytes[at + 2]) : 0U);
        text += kDigits[(group >> 18) & 63];
        text += kDigits[(group >> 12) & 63];
        text += left > 1 ? kDigits[(group >> 6) & 63] : '=';
        text += left > 2 ? kDigits[group & 63] : '=';
    }
    return text;
}

}  // namespace

std::string reportPage(const ReportContent& content) {
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<title>Motion in " + escapeHtml(fileNameOf(content.facts.videoPath)) + "</title>\n";
    html += kPageStyle;
    html += kStyle;
    html += "</head>\n<body>\n";
    html += header(content);
    html += "<h2>Activity over time</h2>\n";
    html += timelineChart(content.buckets, content.events, content.facts.minPixels,
                          content.scalePixels);
    html +=
        "<p class=\"legend\">Changed pixels per frame, on a logarithmic scale:"
        "<span class=\"swatch range\"></span>fewest to most at each moment"
        "<span class=\"swatch trigger\"></span>trigger level"
        "<span class=\"swatch event\"></span>events (snapshots no more than " +
        plainSeconds(content.eventGapMs) + " apart)</p>\n";
    html += "<h2>Events</h2>\n";
    html += "<p class=\"lists\">Every snapshot and every event as a table: <a href=\"" +
            std::string(kSnapshotListName) + "\">" + kSnapshotListName + "</a>, <a href=\"" +
            kEventListName + "\">" + kEventListName + "</a>" +
            (content.digestSaved ? std::string(", and every event in one video: <a href=\"") +
                                       kDigestName + "\">" + kDigestName + "</a>"
                                 : std::string()) +
            "</p>\n";
    html += eventTable(content);
    html += "<p class=\"made\">Made by Pelmora " + escapeHtml(kVersion) +
            (content.madeAt.empty() ? std::string() : " on " + escapeHtml(content.madeAt)) +
            "</p>\n";
    return html + "</body>\n</html>\n";
}

std::string localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[64] = "";
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", &local) == 0) {
        return {};
    }
    return text;
}

std::string thumbnailAddress(const std::string& path, int width,
                             const std::vector<cv::Rect>& boxes) {
    cv::Mat snapshot;
    cv::Mat small;
    std::vector<uchar> bytes;
    std::string reason;
    cv::Size whole;
    if (!readJpegColour(path, width, snapshot, reason, &whole)) {
        return std::string();
    }
    if (snapshot.cols > width) {
        const int height =
            std::max(1, static_cast<int>(std::lround(static_cast<double>(width) * snapshot.rows /
                                                     snapshot.cols)));
        cv::resize(snapshot, small, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    } else {
        small = snapshot.clone();
    }
    // The objects where the snapshot found them, drawn at the thumbnail's scale.
    const double scale = static_cast<double>(small.cols) / std::max(1, whole.width);
    for (const cv::Rect& box : boxes) {
        cv::rectangle(small,
                      cv::Rect(static_cast<int>(box.x * scale), static_cast<int>(box.y * scale),
                               std::max(1, static_cast<int>(box.width * scale)),
                               std::max(1, static_cast<int>(box.height * scale))),
                      cv::Scalar(0, 220, 0), 1);
    }
    JpegEncoder encoder(kThumbnailQuality);
    return encoder.encode(small, bytes, reason) ? "data:image/jpeg;base64," + base64(bytes)
                                                : std::string();
}

std::vector<std::string> embeddedThumbnails(const std::vector<MotionEvent>& events,
                                            const std::string& folder) {
    std::vector<std::string> thumbnails;
    for (std::size_t i = 0; i < std::min(events.size(), kEmbeddedThumbnails); ++i) {
        thumbnails.push_back(events[i].pictureSaved
                                 ? thumbnailAddress(joinPath(folder, events[i].pictureFile),
                                                    kThumbnailWidth, events[i].pictureBoxes)
                                 : std::string());
    }
    return thumbnails;
}

}  // namespace pelmora
