#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "EventGrouper.h"
#include "KnownMoments.h"
#include "SettingSweep.h"

namespace pelmora {

// The settings of a sweep, thresholds first to last with each trigger size, in the order of
// the table: by threshold, and the trigger sizes of a threshold from the smallest, each once.
std::vector<SweepSetting> sweepSettings(int firstThreshold, int lastThreshold,
                                        std::vector<int> triggers);

// What a run with one setting would find, as its lists would say.
struct SweepRow {
    SweepSetting setting;
    long long snapshots = 0;      // the rows of its snapshots.csv, the start's included
    long long events = 0;         // the rows of its events.csv
    long long busiestMinute = 0;  // the most snapshots less than a minute apart from the first
    long long firstMs = -1;       // the times of its first and last snapshot; -1 without any
    long long lastMs = -1;
    // For each known moment, whether an event of the run shares a moment of time with it.
    std::vector<bool> found;
    // Snapshots in no known moment, the start's aside: it is compared with black, not motion.
    long long snapshotsOutside = 0;

    long long momentsFound() const;
};

// Tallies a sweep's snapshots into the row of each setting as they come, with bounded memory:
// for each setting, its counts, the event it has open and the times of its snapshots of the
// last minute.
class SweepTally : public SweepObserver {
public:
    SweepTally(std::vector<SweepSetting> settings, long long eventGapMs,
               std::vector<KnownMoment> moments = {});

    void settingSnapshot(std::size_t setting, const SnapshotOutcome& snapshot) override;
    // The events still open are closed, as at the end of a run.
    void finish();
    // The row of each setting, in the order of the settings, as far as the sweep has come; an
    // event still open counts.
    std::vector<SweepRow> rows() const;

    const std::vector<SweepSetting>& settings() const { return all; }
    const std::vector<KnownMoment>& moments() const { return known; }

private:
    struct Tally {
        SweepRow row;
        EventGrouper grouper;
        std::deque<long long> lastMinute;
    };
    static void markFound(const std::vector<KnownMoment>& moments, const MotionEvent& event,
                          std::vector<bool>& found);
    bool inAMoment(long long ms) const;

    std::vector<SweepSetting> all;
    std::vector<KnownMoment> known;
    // The moments as stretches that neither touch nor overlap, in order of time.
    std::vector<KnownMoment> covered;
    std::vector<Tally> tallies;
};

// The threshold where a curve of counts by threshold (thresholds ascending) flattens: the lowest
// from which on the snapshots and the events stay within a small margin of those at the highest
// threshold (a tenth, and two snapshots at least). Below it, the counts are mostly noise that a
// little more threshold removes, and events that noise merges; from it on, what stays is what
// the video shows. -1 when there is no knee: no curve, or one that never falls steeply from one
// threshold to the next (by more than a quarter and more than two snapshots), as on footage
// where every frame changes at every threshold.
int plateauThreshold(const std::vector<SweepRow>& curve);

// The setting a sweep suggests, and why.
struct SweepSuggestion {
    bool made = false;  // false for a sweep of no setting, or a curve with no knee
    // The curve of the smallest trigger size (setting's) has no knee, so nothing is suggested.
    bool flat = false;
    SweepSetting setting;
    // With known moments: the setting that finds the most of them (every one, where any
    // setting does), with the fewest snapshots outside them; among equals, the lowest threshold,
    // then the smallest trigger size. Without: the knee of the smallest trigger size's curve.
    bool byMoments = false;
    std::vector<std::size_t> missed;  // the moments that setting finds no event in, by index
};

SweepSuggestion suggestSetting(const std::vector<SweepRow>& rows);

// The suggestion in a sentence for people, with the options that use it and why it was chosen:
// "Suggested: --threshold 13 --min-pixels 10, where ..."; moments are those the rows were
// tallied with. For a curve without a knee, "No suggestion: ..." and why; empty for no rows.
std::string suggestionText(const SweepSuggestion& suggestion, const std::vector<SweepRow>& rows,
                           const std::vector<KnownMoment>& moments);

// The rows as a short table for a terminal: a line per threshold, with the snapshots and events
// (and with moments, those found and the snapshots outside) at each trigger size, and thresholds
// in a row that give all the same counts on one line ("15-50").
std::string sweepTableLines(const std::vector<SweepRow>& rows, bool withMoments);

// sweep.csv: a row per setting with its counts and times; with known moments, also how many
// of them it finds and its snapshots outside them.
std::string sweepTableText(const std::vector<SweepRow>& rows, bool withMoments);

}  // namespace pelmora
