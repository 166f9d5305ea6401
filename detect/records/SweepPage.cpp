#include "SweepPage.h"

#include <algorithm>
#include <cmath>

#include "ChartAxes.h"
#include "FolderNames.h"
#include "HtmlText.h"
#include "PageStyle.h"
#include "TextFormat.h"
#include "Version.h"

namespace pelmora {

namespace {

// The drawing's own units; the page scales it to its width.
constexpr double kWidth = 1000.0;
constexpr double kHeight = 320.0;
constexpr double kLeft = 56.0;
constexpr double kRight = 16.0;
constexpr double kTop = 16.0;
constexpr double kBottom = 40.0;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kPlotHeight = kHeight - kTop - kBottom;

// One colour for each trigger size, in the order of the sizes; more sizes take them again.
const char* const kColours[] = {"#13707a", "#c2413a", "#6a4fb3", "#e9822f", "#2f6fb3"};

// The rules of this page alone, after those every page shares.
const char* const kStyle = R"(
.stopped, .missed { color: #c2413a; }
.suggestion { font-size: 1.1em; padding: 0.5em 0.8em; background: #eef7ee;
  border: 1px solid #b9d8b9; border-radius: 5px; }
svg.sweep { display: block; width: 100%; height: auto; }
svg .grid { stroke: #e4e8ed; stroke-width: 1; }
svg .tick, svg .axis-line { stroke: #8a93a2; stroke-width: 1; }
svg .axis { fill: #5a6372; font-size: 11px; font-family: inherit; }
svg .snapshots { fill: none; stroke-width: 2; stroke-linejoin: round; }
svg .events { fill: none; stroke-width: 1.5; stroke-dasharray: 6 4; stroke-linejoin: round; }
svg .suggested { stroke: #2e7d32; stroke-width: 1.5; }
svg .suggested-label { fill: #2e7d32; font-size: 12px; font-family: inherit; }
.legend { margin: 0.4em 0 0 0; color: #5a6372; font-size: 0.9em; }
.swatch { display: inline-block; width: 1.6em; height: 0; margin: 0 0.3em 0 0.8em;
  vertical-align: middle; border-top-width: 2px; }
table.sweep { border-collapse: collapse; }
table.sweep th, table.sweep td { text-align: right; padding: 0.2em 0.7em;
  border-bottom: 1px solid #e1e5ea; }
table.sweep th { background: #eef2f5; color: #12213f; }
table.sweep tr.chosen td { background: #eef7ee; font-weight: bold; }
.made { margin-top: 2em; font-size: 0.85em; color: #5a6372; }
@media print {
  html, body { background: #ffffff; }
  body { max-width: none; padding: 0; font-size: 11px; }
  tr, .fact, svg.sweep { page-break-inside: avoid; }
}
</style>
)";

std::vector<int> triggerSizes(const std::vector<SweepRow>& rows) {
    std::vector<int> sizes;
    for (const SweepRow& row : rows) {
        if (std::find(sizes.begin(), sizes.end(), row.setting.minPixels) == sizes.end()) {
            sizes.push_back(row.setting.minPixels);
        }
    }
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

std::vector<int> thresholds(const std::vector<SweepRow>& rows) {
    std::vector<int> values;
    for (const SweepRow& row : rows) {
        if (std::find(values.begin(), values.end(), row.setting.threshold) == values.end()) {
            values.push_back(row.setting.threshold);
        }
    }
    std::sort(values.begin(), values.end());
    return values;
}

const SweepRow* rowOf(const std::vector<SweepRow>& rows, int threshold, int trigger) {
    for (const SweepRow& row : rows) {
        if (row.setting.threshold == threshold && row.setting.minPixels == trigger) {
            return &row;
        }
    }
    return nullptr;
}

std::string fileNameOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string fact(const std::string& label, const std::string& value) {
    return "<div class=\"fact\"><span class=\"label\">" + label + "</span><span class=\"value\">" +
           value + "</span></div>\n";
}

std::string settingText(const SweepSetting& setting) {
    return formatText("threshold %d, trigger %s pixels", setting.threshold,
                      groupedNumber(setting.minPixels).c_str());
}

std::string momentText(const KnownMoment& moment) {
    return timecode(moment.startMs) + " to " + timecode(moment.endMs);
}

std::string suggestionText(const SweepPageContent& content, const SweepSuggestion& suggestion) {
    if (suggestion.flat) {
        return "<p class=\"suggestion\">No suggestion: at the smallest trigger size the "
               "snapshots never fall steeply as the threshold rises, so no threshold tells "
               "motion from what changes throughout the video. Try <code>--detector "
               "objects</code>, which explains light, weather and shake away.</p>\n";
    }
    if (!suggestion.made) {
        return std::string();
    }
    std::string html = "<p class=\"suggestion\">Suggested: <b>" + settingText(suggestion.setting) +
                       "</b> (<code>-t " + std::to_string(suggestion.setting.threshold) +
                       " --min-pixels " + std::to_string(suggestion.setting.minPixels) +
                       "</code>). ";
    if (!suggestion.byMoments) {
        html +=
            "It is where the curve of snapshots at the smallest trigger size flattens: from "
            "this threshold on, the snapshots and events stay within a tenth of those at the "
            "highest threshold.</p>\n";
        return html;
    }
    const std::size_t moments = content.moments.size();
    const std::size_t found = moments - suggestion.missed.size();
    const SweepRow* row =
        rowOf(content.rows, suggestion.setting.threshold, suggestion.setting.minPixels);
    html += formatText("It finds %zu of the %zu known moments", found, moments);
    html += row != nullptr ? formatText(" with %s snapshots outside them",
                                        groupedNumber(row->snapshotsOutside).c_str())
                           : std::string();
    html += suggestion.missed.empty() ? ", the fewest of the settings that find them all.</p>\n"
                                      : "; no setting finds them all.</p>\n";
    for (const std::size_t missed : suggestion.missed) {
        html += "<p class=\"missed\">Missed: moment " + std::to_string(missed + 1) + ", " +
                momentText(content.moments[missed]) + "</p>\n";
    }
    return html;
}

std::string table(const SweepPageContent& content, const SweepSuggestion& suggestion) {
    const std::vector<int> triggers = triggerSizes(content.rows);
    const bool withMoments = !content.moments.empty();
    std::string html = "<table class=\"sweep\">\n<thead><tr><th rowspan=\"2\">Threshold</th>";
    for (const int trigger : triggers) {
        html += formatText("<th colspan=\"%d\">Trigger %s</th>", withMoments ? 4 : 2,
                           groupedNumber(trigger).c_str());
    }
    html += "</tr>\n<tr>";
    for (std::size_t i = 0; i < triggers.size(); ++i) {
        html += "<th>Snapshots</th><th>Events</th>";
        if (withMoments) {
            html += "<th>Moments found</th><th>Outside</th>";
        }
    }
    html += "</tr></thead>\n<tbody>\n";
    for (const int threshold : thresholds(content.rows)) {
        const bool chosen = suggestion.made && suggestion.setting.threshold == threshold;
        html += std::string(chosen ? "<tr class=\"chosen\">" : "<tr>") + "<td>" +
                std::to_string(threshold) + "</td>";
        for (const int trigger : triggers) {
            const SweepRow* row = rowOf(content.rows, threshold, trigger);
            if (row == nullptr) {
                html += withMoments ? "<td></td><td></td><td></td><td></td>" : "<td></td><td></td>";
                continue;
            }
            html += "<td>" + groupedNumber(row->snapshots) + "</td><td>" +
                    groupedNumber(row->events) + "</td>";
            if (withMoments) {
                html += formatText("<td>%lld of %zu</td><td>%s</td>", row->momentsFound(),
                                   content.moments.size(),
                                   groupedNumber(row->snapshotsOutside).c_str());
            }
        }
        html += "</tr>\n";
    }
    return html + "</tbody>\n</table>\n";
}

}  // namespace

std::string sweepChart(const std::vector<SweepRow>& rows, const SweepSuggestion& suggestion) {
    const std::vector<int> triggers = triggerSizes(rows);
    const std::vector<int> values = thresholds(rows);
    const int first = values.empty() ? 0 : values.front();
    const int last = values.empty() ? 0 : values.back();
    long long most = 1;
    for (const SweepRow& row : rows) {
        most = std::max({most, row.snapshots, row.events});
    }
    const long long top = pixelScaleTop(most, 1);
    const double topLog = std::log10(1.0 + static_cast<double>(top));
    const auto x = [&](int threshold) {
        return last > first ? kLeft + kPlotWidth * (threshold - first) / (last - first)
                            : kLeft + kPlotWidth / 2.0;
    };
    const auto y = [&](long long count) {
        return kTop + kPlotHeight * (1.0 - std::log10(1.0 + static_cast<double>(count)) / topLog);
    };
    std::string svg = formatText(
        "<svg class=\"sweep\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %g %g\" "
        "width=\"%g\" height=\"%g\" role=\"img\" aria-label=\"Snapshots and events by "
        "threshold\">\n",
        kWidth, kHeight, kWidth, kHeight);
    for (long long count = 0; count <= top; count = count == 0 ? 1 : count * 10) {
        svg += formatText(
            "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n",
            kLeft, y(count), kWidth - kRight, y(count), kLeft - 6.0, y(count) + 4.0,
            pixelMarkLabel(count).c_str());
    }
    const int step = last - first > 20 ? 5 : 1;
    for (int threshold = first; threshold <= last; ++threshold) {
        if (threshold % step != 0 && threshold != first && threshold != last) {
            continue;
        }
        svg += formatText(
            "<line class=\"tick\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%d</text>\n",
            x(threshold), kTop + kPlotHeight, x(threshold), kTop + kPlotHeight + 5.0, x(threshold),
            kTop + kPlotHeight + 18.0, threshold);
    }
    svg += formatText(
        "<text class=\"axis\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">threshold</text>\n",
        kLeft + kPlotWidth / 2.0, kHeight - 4.0);
    if (suggestion.made) {
        const double at = x(suggestion.setting.threshold);
        svg += formatText(
            "<line class=\"suggested\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>"
            "<text class=\"suggested-label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\">"
            "suggested: %d</text>\n",
            at, kTop, at, kTop + kPlotHeight, at + (at > kWidth / 2 ? -4.0 : 4.0), kTop + 12.0,
            at > kWidth / 2 ? "end" : "start", suggestion.setting.threshold);
    }
    for (std::size_t i = 0; i < triggers.size(); ++i) {
        const char* colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
        std::string snapshots;
        std::string events;
        for (const int threshold : values) {
            const SweepRow* row = rowOf(rows, threshold, triggers[i]);
            if (row == nullptr) {
                continue;
            }
            snapshots += formatText("%s%.1f,%.1f", snapshots.empty() ? "" : " ", x(threshold),
                                    y(row->snapshots));
            events +=
                formatText("%s%.1f,%.1f", events.empty() ? "" : " ", x(threshold), y(row->events));
        }
        svg += formatText(
            "<polyline class=\"snapshots\" stroke=\"%s\" points=\"%s\"><title>Snapshots at "
            "trigger %d</title></polyline>\n",
            colour, snapshots.c_str(), triggers[i]);
        svg += formatText(
            "<polyline class=\"events\" stroke=\"%s\" points=\"%s\"><title>Events at trigger "
            "%d</title></polyline>\n",
            colour, events.c_str(), triggers[i]);
    }
    svg +=
        formatText("<line class=\"axis-line\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n",
                   kLeft, kTop + kPlotHeight, kWidth - kRight, kTop + kPlotHeight);
    return svg + "</svg>\n";
}

std::string sweepPage(const SweepPageContent& content) {
    const RunFacts& facts = content.facts;
    const RunReport& report = content.report;
    const SweepSuggestion suggestion = suggestSetting(content.rows);
    const std::vector<int> triggers = triggerSizes(content.rows);
    const std::vector<int> values = thresholds(content.rows);
    const std::string name = escapeHtml(fileNameOf(facts.videoPath));
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<title>Every threshold of " + name + "</title>\n";
    html += kPageStyle;
    html += kStyle;
    html += "</head>\n<body>\n";
    html += "<h1>Every threshold of " + name + "</h1>\n";
    html += "<p class=\"video\">" + escapeHtml(facts.videoPath) + "</p>\n";
    if (report.status == RunReport::Status::Stopped) {
        html += "<p class=\"stopped\">The sweep was stopped after " +
                groupedNumber(report.framesRead) +
                " frames: this page shows what each setting found in them.</p>\n";
    } else if (report.status == RunReport::Status::Failed) {
        html += "<p class=\"stopped\">The video could not be read through (" +
                escapeHtml(report.failure) + "): this page shows the " +
                groupedNumber(report.framesRead) + " frames read before.</p>\n";
    }
    std::string triggerList;
    for (const int trigger : triggers) {
        triggerList += (triggerList.empty() ? "" : ", ") + groupedNumber(trigger);
    }
    html += "<div class=\"facts\">\n";
    html += fact("Frame size",
                 facts.frameSize.area() > 0
                     ? formatText("%d &#215; %d", facts.frameSize.width, facts.frameSize.height)
                     : std::string("not given"));
    html += fact("Frames read", escapeHtml(framesText(report)));
    html +=
        fact("Thresholds", values.empty() ? std::string("none")
                                          : formatText("%d to %d", values.front(), values.back()));
    html += fact("Trigger sizes", triggerList.empty() ? std::string("none") : triggerList);
    html += fact("Watched region", facts.wholeFrame ? std::string("whole frame")
                                                    : escapeHtml(fileNameOf(facts.watchedRegion)));
    html += fact("Event gap", plainSeconds(content.eventGapMs));
    if (!content.moments.empty()) {
        html += fact("Known moments", std::to_string(content.moments.size()));
    }
    html += fact("References at once", formatText("at most %zu", content.mostReferences));
    html += "</div>\n";

    html += "<h2>Snapshots and events by threshold</h2>\n";
    html += sweepChart(content.rows, suggestion);
    html += "<p class=\"legend\">On a logarithmic scale, for each trigger size:";
    for (std::size_t i = 0; i < triggers.size(); ++i) {
        const char* colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
        html += formatText(
            "<span class=\"swatch\" style=\"border-top: 2px solid %s\"></span>snapshots and "
            "<span class=\"swatch\" style=\"border-top: 2px dashed %s\"></span>events at "
            "trigger %s",
            colour, colour, groupedNumber(triggers[i]).c_str());
    }
    html += "</p>\n";
    html +=
        "<p>Each point is exactly what a run with that setting finds. At low thresholds the "
        "noise of the picture makes nearly every frame a snapshot; the curve falls steeply "
        "as the threshold rises above the noise, and flattens where only real motion is "
        "left. The knee, where it flattens, is the threshold to start from: lower finds "
        "fainter motion and more noise, higher the same motion until it too begins to "
        "fade.</p>\n";
    html += suggestionText(content, suggestion);
    html += "<h2>Every setting</h2>\n";
    html += "<p>The same figures as <a href=\"" + std::string(kSweepTableName) + "\">" +
            kSweepTableName + "</a>.</p>\n";
    html += table(content, suggestion);
    html += "<p class=\"made\">Made by Pelmora " + escapeHtml(kVersion) +
            (content.madeAt.empty() ? std::string() : " on " + escapeHtml(content.madeAt)) +
            "</p>\n";
    return html + "</body>\n</html>\n";
}

}  // namespace pelmora
