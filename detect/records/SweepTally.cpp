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
        if (const MotionEvent* open = tally.grouper.openEvent()) {
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

int kneeThreshold(const std::vector<SweepRow>& curve) {
    if (curve.empty()) {
        return -1;
    }
    std::size_t knee = curve.size() - 1;
    while (knee > 0) {
        const long long before = curve[knee - 1].snapshots;
        const long long after = curve[knee].snapshots;
        const bool steep = 4 * after < 3 * before && before - after > 2;
        if (steep) {
            break;
        }
        --knee;
    }
    return curve[knee].setting.threshold;
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
    suggestion.setting = {kneeThreshold(curve), smallest};
    return suggestion;
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
