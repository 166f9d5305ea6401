#include "SweepTally.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "CsvWriter.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr long long kMinuteMs = 60000;

}  // namespace

std::vector<SweepSetting> sweepSettings(int firstThreshold, int lastThreshold,
                                        std::vector<int> triggers) {
    std::sort(triggers.begin(), triggers.end());
    triggers.erase(std::unique(triggers.begin(), triggers.end()), triggers.end());
    std::vector<SweepSetting> settings;
    for (int threshold = firstThreshold; threshold <= lastThreshold; ++threshold) {
        for (const int trigger : triggers) {
            settings.push_back({threshold, trigger});
        }
    }
    return settings;
}

long long SweepRow::momentsFound() const {
    return static_cast<long long>(std::count(found.begin(), found.end(), true));
}

SweepTally::SweepTally(std::vector<SweepSetting> settings, long long eventGapMs,
                       std::vector<KnownMoment> moments)
    : all(std::move(settings)), known(std::move(moments)), covered(known) {
    std::sort(covered.begin(), covered.end(),
              [](const KnownMoment& a, const KnownMoment& b) { return a.startMs < b.startMs; });
    std::vector<KnownMoment> merged;
    for (const KnownMoment& moment : covered) {
        if (!merged.empty() && moment.startMs <= merged.back().endMs + 1) {
            merged.back().endMs = std::max(merged.back().endMs, moment.endMs);
        } else {
            merged.push_back(moment);
        }
    }
    covered = std::move(merged);
    tallies.reserve(all.size());
    for (const SweepSetting& setting : all) {
        tallies.push_back(Tally{SweepRow{}, EventGrouper(eventGapMs), {}});
        Tally& tally = tallies.back();
        tally.row.setting = setting;
        tally.row.found.assign(known.size(), false);
    }
}

void SweepTally::settingSnapshot(std::size_t setting, const SnapshotOutcome& snapshot) {
    Tally& tally = tallies.at(setting);
    SweepRow& row = tally.row;
    ++row.snapshots;
    if (row.firstMs < 0) {
        row.firstMs = snapshot.timeMs;
    }
    row.lastMs = snapshot.timeMs;
    tally.lastMinute.push_back(snapshot.timeMs);
    while (snapshot.timeMs - tally.lastMinute.front() >= kMinuteMs) {
        tally.lastMinute.pop_front();
    }
    row.busiestMinute =
        std::max(row.busiestMinute, static_cast<long long>(tally.lastMinute.size()));
    // The start is listed but no event, as a run's records have it.
    if (snapshot.againstBlack) {
        return;
    }
    if (!inAMoment(snapshot.timeMs)) {
        ++row.snapshotsOutside;
    }
    if (const auto closed = tally.grouper.add(snapshot)) {
        ++row.events;
        markFound(known, *closed, row.found);
    }
}

void SweepTally::finish() {
    for (Tally& tally : tallies) {
        if (const auto closed = tally.grouper.finish()) {
            ++tally.row.events;
            markFound(known, *closed, tally.row.found);
        }
    }
}

std::vector<SweepRow> SweepTally::rows() const {
    std::vector<SweepRow> rows;
    rows.reserve(tallies.size());
    for (const Tally& tally : tallies) {
        SweepRow& row = rows.emplace_back(tally.row);
        if (const std::optional<MotionEvent> open = tally.grouper.openEvent()) {
            ++row.events;
            markFound(known, *open, row.found);
        }
    }
    return rows;
}

void SweepTally::markFound(const std::vector<KnownMoment>& moments, const MotionEvent& event,
                           std::vector<bool>& found) {
    for (std::size_t i = 0; i < moments.size(); ++i) {
        if (overlaps(moments[i], event.startMs, event.endMs)) {
            found[i] = true;
        }
    }
}

bool SweepTally::inAMoment(long long ms) const {
    // The first stretch that does not end before ms.
    const auto stretch =
        std::lower_bound(covered.begin(), covered.end(), ms,
                         [](const KnownMoment& moment, long long at) { return moment.endMs < at; });
    return stretch != covered.end() && stretch->startMs <= ms;
}

namespace {

// Whether a count lies within a small margin of the flat part's: a tenth of it, and for
// snapshots at least two, so that a snapshot more or less of a few is still flat.
bool nearFlat(long long count, long long flat, long long least) {
    return std::llabs(count - flat) <= std::max(least, flat / 10);
}

}  // namespace

int plateauThreshold(const std::vector<SweepRow>& curve) {
    bool falls = false;
    for (std::size_t i = 1; i < curve.size(); ++i) {
        const long long before = curve[i - 1].snapshots;
        const long long after = curve[i].snapshots;
        falls = falls || (4 * after < 3 * before && before - after > 2);
    }
    if (!falls) {
        return -1;
    }
    const SweepRow& flat = curve.back();
    std::size_t start = curve.size() - 1;
    while (start > 0 && nearFlat(curve[start - 1].snapshots, flat.snapshots, 2) &&
           nearFlat(curve[start - 1].events, flat.events, 0)) {
        --start;
    }
    return curve[start].setting.threshold;
}

SweepSuggestion suggestSetting(const std::vector<SweepRow>& rows) {
    SweepSuggestion suggestion;
    if (rows.empty()) {
        return suggestion;
    }
    suggestion.made = true;
    suggestion.byMoments = !rows.front().found.empty();
    if (suggestion.byMoments) {
        // More moments found first, then fewer snapshots outside them, then the lower
        // threshold, which still sees fainter motion, then the smaller trigger.
        const auto rank = [](const SweepRow& row) {
            return std::make_tuple(-row.momentsFound(), row.snapshotsOutside, row.setting.threshold,
                                   row.setting.minPixels);
        };
        const SweepRow& best = *std::min_element(
            rows.begin(), rows.end(),
            [&](const SweepRow& a, const SweepRow& b) { return rank(a) < rank(b); });
        suggestion.setting = best.setting;
        for (std::size_t i = 0; i < best.found.size(); ++i) {
            if (!best.found[i]) {
                suggestion.missed.push_back(i);
            }
        }
        return suggestion;
    }
    int smallest = rows.front().setting.minPixels;
    for (const SweepRow& row : rows) {
        smallest = std::min(smallest, row.setting.minPixels);
    }
    std::vector<SweepRow> curve;
    for (const SweepRow& row : rows) {
        if (row.setting.minPixels == smallest) {
            curve.push_back(row);
        }
    }
    std::sort(curve.begin(), curve.end(), [](const SweepRow& a, const SweepRow& b) {
        return a.setting.threshold < b.setting.threshold;
    });
    const int threshold = plateauThreshold(curve);
    if (threshold < 0) {
        suggestion.made = false;
        suggestion.flat = true;
        suggestion.setting = {curve.front().setting.threshold, smallest};
        return suggestion;
    }
    suggestion.setting = {threshold, smallest};
    return suggestion;
}

std::string suggestionText(const SweepSuggestion& suggestion, const std::vector<SweepRow>& rows,
                           const std::vector<KnownMoment>& moments) {
    if (suggestion.flat) {
        return formatText(
            "No suggestion: at trigger %d the snapshots never fall steeply as the threshold "
            "rises, so no threshold tells motion from what changes throughout the video; try "
            "--detector objects, which explains light, weather and shake away\n",
            suggestion.setting.minPixels);
    }
    if (!suggestion.made) {
        return std::string();
    }
    const SweepSetting& setting = suggestion.setting;
    std::string text = formatText("Suggested: --threshold %d --min-pixels %d", setting.threshold,
                                  setting.minPixels);
    if (!suggestion.byMoments) {
        return text + formatText(
                          ", where the curve at trigger %d flattens: from threshold %d on, the "
                          "snapshots and events stay within a tenth of those at the highest\n",
                          setting.minPixels, setting.threshold);
    }
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const SweepRow& each) {
        return each.setting.threshold == setting.threshold &&
               each.setting.minPixels == setting.minPixels;
    });
    const long long outside = row != rows.end() ? row->snapshotsOutside : 0;
    const std::size_t found = moments.size() - suggestion.missed.size();
    if (suggestion.missed.empty()) {
        return text + formatText(
                          ": it finds all %zu known moments with %lld snapshots outside them, "
                          "the fewest of the settings that find them all\n",
                          moments.size(), outside);
    }
    text += formatText(
        ": no setting finds all %zu known moments; it finds %zu, the most, with %lld snapshots "
        "outside them, and misses",
        moments.size(), found, outside);
    for (std::size_t i = 0; i < suggestion.missed.size(); ++i) {
        const std::size_t missed = suggestion.missed[i];
        text += formatText("%s moment %zu (%s to %s)", i == 0 ? "" : ",", missed + 1,
                           timecode(moments[missed].startMs).c_str(),
                           timecode(moments[missed].endMs).c_str());
    }
    return text + "\n";
}

std::string sweepTableLines(const std::vector<SweepRow>& rows, bool withMoments) {
    std::vector<int> triggers;
    std::vector<int> thresholds;
    for (const SweepRow& row : rows) {
        triggers.push_back(row.setting.minPixels);
        thresholds.push_back(row.setting.threshold);
    }
    for (std::vector<int>* values : {&triggers, &thresholds}) {
        std::sort(values->begin(), values->end());
        values->erase(std::unique(values->begin(), values->end()), values->end());
    }
    const auto cellsOf = [&](int threshold) {
        std::string cells;
        for (const int trigger : triggers) {
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const SweepRow& each) {
                return each.setting.threshold == threshold && each.setting.minPixels == trigger;
            });
            if (row == rows.end()) {
                cells += withMoments ? formatText("  %10s %7s %6s %8s", "", "", "", "")
                                     : formatText("  %10s %7s", "", "");
                continue;
            }
            cells += formatText("  %10lld %7lld", row->snapshots, row->events);
            if (withMoments) {
                cells += formatText(" %6lld %8lld", row->momentsFound(), row->snapshotsOutside);
            }
        }
        return cells;
    };
    std::string text = formatText("%-10s", "");
    std::string header = formatText("%-10s", "threshold");
    for (const int trigger : triggers) {
        text += formatText(withMoments ? "  %-33s" : "  %-18s",
                           ("trigger " + std::to_string(trigger)).c_str());
        header += withMoments
                      ? formatText("  %10s %7s %6s %8s", "snapshots", "events", "found", "outside")
                      : formatText("  %10s %7s", "snapshots", "events");
    }
    const auto trimmedLine = [](std::string line) {
        line.erase(line.find_last_not_of(' ') + 1);
        return line + "\n";
    };
    text = trimmedLine(text) + trimmedLine(header);
    for (std::size_t i = 0; i < thresholds.size();) {
        const std::string cells = cellsOf(thresholds[i]);
        std::size_t last = i;
        while (last + 1 < thresholds.size() && thresholds[last + 1] == thresholds[last] + 1 &&
               cellsOf(thresholds[last + 1]) == cells) {
            ++last;
        }
        const std::string span =
            last == i ? std::to_string(thresholds[i])
                      : std::to_string(thresholds[i]) + "-" + std::to_string(thresholds[last]);
        text += trimmedLine(formatText("%-10s", span.c_str()) + cells);
        i = last + 1;
    }
    return text;
}

std::string sweepTableText(const std::vector<SweepRow>& rows, bool withMoments) {
    std::vector<std::string> header = {"threshold", "trigger",        "snapshots",
                                       "events",    "busiest_minute", "first_ms",
                                       "last_ms",   "first",          "last"};
    if (withMoments) {
        header.insert(header.end(), {"moments_found", "snapshots_outside"});
    }
    std::string text = CsvWriter::record(header);
    for (const SweepRow& row : rows) {
        const bool any = row.firstMs >= 0;
        std::vector<std::string> fields = {std::to_string(row.setting.threshold),
                                           std::to_string(row.setting.minPixels),
                                           std::to_string(row.snapshots),
                                           std::to_string(row.events),
                                           std::to_string(row.busiestMinute),
                                           any ? std::to_string(row.firstMs) : std::string(),
                                           any ? std::to_string(row.lastMs) : std::string(),
                                           any ? timecode(row.firstMs) : std::string(),
                                           any ? timecode(row.lastMs) : std::string()};
        if (withMoments) {
            fields.insert(fields.end(), {std::to_string(row.momentsFound()),
                                         std::to_string(row.snapshotsOutside)});
        }
        text += CsvWriter::record(fields);
    }
    return text;
}

}  // namespace pelmora
