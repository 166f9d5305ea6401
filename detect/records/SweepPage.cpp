#include "SweepPage.h"

#include <algorithm>
#include <cmath>

#include "ChartAxes.h"
#include "FolderNames.h"
#include "PageSkeleton.h"
#include "PageTemplates.h"
#include "TextFormat.h"
#include "WatchedRegion.h"

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

std::string settingText(const SweepSetting& setting) {
    return formatText("threshold %d, trigger %s pixels", setting.threshold,
                      groupedNumber(setting.minPixels).c_str());
}

std::string momentText(const KnownMoment& moment) {
    return timecode(moment.startMs) + " to " + timecode(moment.endMs);
}

// The suggested setting and why, or false where there is none.
PageData suggestionOf(const SweepPageContent& content, const SweepSuggestion& suggestion) {
    if (!suggestion.made) {
        return PageData(false);
    }
    PageData suggested;
    suggested["setting"] = settingText(suggestion.setting);
    suggested["threshold"] = std::to_string(suggestion.setting.threshold);
    suggested["minPixels"] = std::to_string(suggestion.setting.minPixels);
    suggested["knee"] = !suggestion.byMoments;
    suggested["byMoments"] = suggestion.byMoments;
    PageList missed;
    if (suggestion.byMoments) {
        const SweepRow* row =
            rowOf(content.rows, suggestion.setting.threshold, suggestion.setting.minPixels);
        suggested["found"] = std::to_string(content.moments.size() - suggestion.missed.size());
        suggested["outside"] =
            row != nullptr ? PageData(groupedNumber(row->snapshotsOutside)) : PageData(false);
        suggested["allFound"] = suggestion.missed.empty();
        for (const std::size_t moment : suggestion.missed) {
            PageData each;
            each["number"] = std::to_string(moment + 1);
            each["when"] = momentText(content.moments[moment]);
            missed.push_back(std::move(each));
        }
    }
    suggested["missed"] = PageData(missed);
    return suggested;
}

// The table by threshold: a row for each, the figures of each trigger size in it.
PageList tableRows(const SweepPageContent& content, const SweepSuggestion& suggestion) {
    const std::vector<int> triggers = triggerSizes(content.rows);
    PageList rows;
    for (const int threshold : thresholds(content.rows)) {
        PageList cells;
        for (const int trigger : triggers) {
            const SweepRow* row = rowOf(content.rows, threshold, trigger);
            PageData cell;
            cell["row"] = false;
            if (row != nullptr) {
                PageData figures;
                figures["snapshots"] = groupedNumber(row->snapshots);
                figures["events"] = groupedNumber(row->events);
                figures["found"] = std::to_string(row->momentsFound());
                figures["outside"] = groupedNumber(row->snapshotsOutside);
                cell["row"] = std::move(figures);
            }
            cells.push_back(std::move(cell));
        }
        PageData each;
        each["threshold"] = std::to_string(threshold);
        each["chosen"] = suggestion.made && suggestion.setting.threshold == threshold;
        each["cells"] = PageData(cells);
        rows.push_back(std::move(each));
    }
    return rows;
}

PageList factsOf(const SweepPageContent& content) {
    const RunFacts& facts = content.facts;
    const std::vector<int> triggers = triggerSizes(content.rows);
    const std::vector<int> values = thresholds(content.rows);
    std::string triggerList;
    for (const int trigger : triggers) {
        triggerList += (triggerList.empty() ? "" : ", ") + groupedNumber(trigger);
    }
    PageList list = {
        pageFact("Frame size",
                 facts.frameSize.area() > 0
                     ? formatText("%d \u00d7 %d", facts.frameSize.width, facts.frameSize.height)
                     : std::string("not given")),
        pageFact("Frames read", framesText(content.report)),
        pageFact("Thresholds", values.empty()
                                   ? std::string("none")
                                   : formatText("%d to %d", values.front(), values.back())),
        pageFact("Trigger sizes", triggerList.empty() ? std::string("none") : triggerList),
        pageFact("Watched region", regionText(facts.watchedRegion, facts.regions)),
        pageFact("Event gap", plainSeconds(content.eventGapMs))};
    if (!content.moments.empty()) {
        list.push_back(pageFact("Known moments", std::to_string(content.moments.size())));
    }
    list.push_back(
        pageFact("References at once", formatText("at most %zu", content.mostReferences)));
    return {factGroup(list)};
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
    const SweepSuggestion suggestion = suggestSetting(content.rows);
    const std::vector<int> triggers = triggerSizes(content.rows);
    const bool withMoments = !content.moments.empty();
    const std::string name = fileNameOf(content.facts.videoPath);
    PageData page;
    page["name"] = name;
    page["path"] = content.facts.videoPath;
    addBanner(page, content.report, "sweep", "what each setting found in them");
    page["factGroups"] = PageData(factsOf(content));
    page["chart"] = sweepChart(content.rows, suggestion);
    PageList sizes;
    for (std::size_t i = 0; i < triggers.size(); ++i) {
        PageData size;
        size["colour"] = std::string(kColours[i % (sizeof kColours / sizeof kColours[0])]);
        size["size"] = groupedNumber(triggers[i]);
        size["columns"] = withMoments ? "4" : "2";
        sizes.push_back(std::move(size));
    }
    page["triggers"] = PageData(sizes);
    page["withMoments"] = withMoments;
    page["known"] = std::to_string(content.moments.size());
    page["flat"] = suggestion.flat;
    page["suggested"] = suggestionOf(content, suggestion);
    page["sweepTable"] = std::string(kSweepTableName);
    page["rows"] = PageData(tableRows(content, suggestion));
    return renderPage(page, "Every threshold of " + name, content.madeAt, kSweepTemplate,
                      kSweepStyle);
}

}  // namespace pelmora
