// What a sweep makes of the snapshots of its settings: the table's counts and times, the known
// moments found and missed, the moments file, and the setting it suggests.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "KnownMoments.h"
#include "SweepTally.h"
#include "TestSupport.h"

namespace {

using pelmora::KnownMoment;
using pelmora::SweepRow;
using pelmora::SweepSetting;

pelmora::SnapshotOutcome at(long long ms, bool start = false) {
    pelmora::SnapshotOutcome snapshot;
    snapshot.frame = ms / 40;
    snapshot.timeMs = ms;
    snapshot.streamMs = ms;
    snapshot.changedPixels = 50;
    snapshot.againstBlack = start;
    return snapshot;
}

TEST(KnownMoments, ReadsSecondsAndClockTimesWithCommentsAndBlankLines) {
    const pelmora::MomentsFile file = pelmora::parseMoments(
        "# the yard, checked by hand\r\n"
        "\n"
        "  12 , 14.5   # the cat\r\n"
        "00:01:02.250,00:01:03\n"
        "1:00:00.5,1:00:00.5\n"
        "7,7");
    ASSERT_EQ(file.error, "");
    ASSERT_EQ(file.moments.size(), 4U);
    const long long expected[][2] = {
        {12000, 14500}, {62250, 63000}, {3600500, 3600500}, {7000, 7000}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(file.moments[i].startMs, expected[i][0]) << i;
        EXPECT_EQ(file.moments[i].endMs, expected[i][1]) << i;
    }
    // What the window saves reads back the same.
    const pelmora::MomentsFile again =
        pelmora::parseMoments(pelmora::momentsFileText(file.moments));
    ASSERT_EQ(again.moments.size(), 4U);
    EXPECT_EQ(again.moments[2].startMs, 3600500);
    EXPECT_EQ(again.moments[1].endMs, 63000);
    // A byte-order mark before the first moment is no part of it.
    const pelmora::MomentsFile marked = pelmora::parseMoments(
        "\xEF\xBB\xBF"
        "1.5,2\n");
    ASSERT_EQ(marked.error, "");
    ASSERT_EQ(marked.moments.size(), 1U);
    EXPECT_EQ(marked.moments[0].startMs, 1500);
}

TEST(KnownMoments, RefusesWhatIsNoMomentWithTheLineAndTheReason) {
    const struct {
        const char* name;
        const char* text;
        const char* error;
    } rows[] = {
        {"one time", "3\n", "line 1: '3' is no moment: give its start and end, start,end"},
        {"three times", "1,2,3\n",
         "line 1: '1,2,3' is no moment: give its start and end, start,end"},
        {"a word", "# fine\nstart,2\n",
         "line 2: 'start' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"four decimals", "1.2345,2\n",
         "line 1: '1.2345' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"a negative time", "-1,2\n",
         "line 1: '-1' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"minutes and seconds only", "1:30,2:00\n",
         "line 1: '1:30' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"sixty seconds", "00:00:60,00:01:10\n",
         "line 1: '00:00:60' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"an empty end", "5,\n",
         "line 1: '' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)"},
        {"ends before it starts", "1,2\n10,9.5\n",
         "line 2: the moment ends at 00:00:09.500, before it starts at 00:00:10.000"},
    };
    for (const auto& row : rows) {
        const pelmora::MomentsFile file = pelmora::parseMoments(row.text);
        EXPECT_EQ(file.error, row.error) << row.name;
    }
}

TEST(KnownMoments, RefusesAFileThatCannotBeReadOrHoldsNoMoment) {
    testsupport::TempDir tmp;
    std::ofstream(tmp.file("comments.txt")) << "# nothing marked yet\n\n";
    std::ofstream(tmp.file("binary.txt")) << std::string("1,2\n\0\0", 6);
    const struct {
        const char* name;
        std::string path;
        const char* error;
    } rows[] = {
        {"missing", tmp.file("missing.txt"), "No such file or directory"},
        {"a folder", tmp.path(), "Is a directory"},
        {"comments only", tmp.file("comments.txt"), "it holds no moment"},
        {"binary", tmp.file("binary.txt"), "it holds a NUL byte: not a text file of moments"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::readMomentsFile(row.path).error, row.error) << row.name;
    }
}

TEST(SweepTally, CountsEventsTheBusiestMinuteAndTheMomentsOfEachSetting) {
    // Moments at 1-2 s, 10-11 s and 100-101 s; the last two touch no snapshot of the first
    // setting.
    const std::vector<KnownMoment> moments = {{1000, 2000}, {10000, 11000}, {100000, 101000}};
    pelmora::SweepTally tally({{20, 10}, {30, 10}}, 2000, moments);
    // Setting 0: the start, three snapshots in the first moment, noise at 5 s and 30 s, and a
    // snapshot at 61 s, more than a minute after the first ones.
    for (const long long ms : {0LL, 1000LL, 1500LL, 2000LL, 5000LL, 30000LL, 61000LL}) {
        tally.settingSnapshot(0, at(ms, ms == 0));
    }
    // Setting 1: an event that starts before the second moment and ends after it, and one
    // whose only snapshot is the last moment's last millisecond.
    for (const long long ms : {9000LL, 10500LL, 12000LL, 101000LL}) {
        tally.settingSnapshot(1, at(ms));
    }
    // While the sweep goes, an open event counts.
    EXPECT_EQ(tally.rows()[1].events, 2);
    EXPECT_EQ(tally.rows()[1].momentsFound(), 2);
    tally.finish();
    const std::vector<SweepRow> rows = tally.rows();
    ASSERT_EQ(rows.size(), 2U);

    EXPECT_EQ(rows[0].snapshots, 7);
    // 1-2 s join, 5 s is 3 s later, 30 and 61 s alone: the start is no event.
    EXPECT_EQ(rows[0].events, 4);
    // 0 to 30 s: the first six, less than a minute apart; 61 s drops 0 and 1 s.
    EXPECT_EQ(rows[0].busiestMinute, 6);
    EXPECT_EQ(rows[0].firstMs, 0);
    EXPECT_EQ(rows[0].lastMs, 61000);
    EXPECT_EQ(rows[0].found, (std::vector<bool>{true, false, false}));
    // 5, 30 and 61 s; not the start.
    EXPECT_EQ(rows[0].snapshotsOutside, 3);

    EXPECT_EQ(rows[1].events, 2);
    EXPECT_EQ(rows[1].found, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(rows[1].snapshotsOutside, 2);
    EXPECT_EQ(rows[1].busiestMinute, 3);

    const std::string table = pelmora::sweepTableText(rows, true);
    EXPECT_EQ(table,
              "threshold,trigger,snapshots,events,busiest_minute,first_ms,last_ms,first,last,"
              "moments_found,snapshots_outside\r\n"
              "20,10,7,4,6,0,61000,00:00:00.000,00:01:01.000,1,3\r\n"
              "30,10,4,2,3,9000,101000,00:00:09.000,00:01:41.000,2,2\r\n");
}

TEST(SweepTally, ASettingWithoutSnapshotsHasNoTimes) {
    pelmora::SweepTally tally({{50, 100}}, 2000);
    tally.finish();
    EXPECT_EQ(pelmora::sweepTableText(tally.rows(), false),
              "threshold,trigger,snapshots,events,busiest_minute,first_ms,last_ms,first,last\r\n"
              "50,100,0,0,0,,,,\r\n");
}

// Rows of one trigger size with these snapshot counts, thresholds from first on.
std::vector<SweepRow> curve(int first, const std::vector<long long>& counts, int trigger = 10) {
    std::vector<SweepRow> rows;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        SweepRow row;
        row.setting = {first + static_cast<int>(i), trigger};
        row.snapshots = counts[i];
        rows.push_back(row);
    }
    return rows;
}

// Rows of one trigger size with these snapshot and event counts, thresholds from first on.
std::vector<SweepRow> curveWithEvents(const std::vector<std::pair<long long, long long>>& counts) {
    std::vector<SweepRow> rows = curve(0, {});
    for (std::size_t i = 0; i < counts.size(); ++i) {
        SweepRow row;
        row.setting = {static_cast<int>(i), 10};
        row.snapshots = counts[i].first;
        row.events = counts[i].second;
        rows.push_back(row);
    }
    return rows;
}

TEST(SweepSuggestion, TakesTheStartOfTheSmallestTriggerSizesPlateau) {
    const struct {
        const char* name;
        std::vector<long long> counts;  // thresholds 0, 1, ...
        int knee;                       // -1: none
    } rows[] = {
        {"noise, then five moments", {1500, 757, 400, 152, 90, 5, 5, 5, 5}, 5},
        {"a fall of exactly a quarter is not steep", {100, 75, 75}, -1},
        {"one more than a quarter is", {100, 74, 74}, 1},
        {"a fall of two snapshots is not steep, however large a share", {3, 1, 1}, -1},
        {"of three is", {4, 1, 1}, 1},
        {"motion fading slowly after the noise, within a tenth from 5",
         {900, 300, 60, 58, 55, 52, 50, 48},
         5},
        {"a steep fall at the last threshold", {5, 5, 5, 1000, 10}, 4},
        {"a rise is no fall", {10, 10, 40, 40}, -1},
        {"flat throughout", {7, 7, 7}, -1},
        {"every frame at every threshold", {150, 150, 150, 150}, -1},
        {"one threshold", {12}, -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::plateauThreshold(curve(0, row.counts)), row.knee) << row.name;
    }
    EXPECT_EQ(pelmora::plateauThreshold({}), -1);

    // The plateau's start, not the slope before it: noise at 10 still merges the two events
    // (97 snapshots in 1), which 15 and up keep apart (55 in 2); on a still tree with one object,
    // 8 gives 67 snapshots in 4 events, and 12 and up 48 in 1.
    const std::vector<std::pair<long long, long long>> noise = {
        {2000, 1}, {900, 1}, {400, 1}, {200, 1}, {150, 1}, {130, 1}, {120, 1},
        {110, 1},  {105, 1}, {100, 1}, {97, 1},  {80, 1},  {70, 1},  {62, 2},
        {58, 2},   {55, 2},  {55, 2},  {55, 2},  {55, 2},  {55, 2}};
    EXPECT_EQ(pelmora::plateauThreshold(curveWithEvents(noise)), 14);
    const std::vector<std::pair<long long, long long>> tree = {
        {900, 9}, {600, 8}, {300, 7}, {150, 6}, {100, 5}, {90, 5}, {80, 4}, {70, 4},
        {67, 4},  {60, 3},  {55, 2},  {50, 1},  {48, 1},  {48, 1}, {48, 1}, {48, 1}};
    EXPECT_EQ(pelmora::plateauThreshold(curveWithEvents(tree)), 11);

    // The curve of the smallest trigger size decides, wherever its rows stand in the table.
    std::vector<SweepRow> both = curve(10, {500, 50, 40, 40}, 1000);
    const std::vector<SweepRow> small = curve(10, {900, 800, 100, 95});
    both.insert(both.end(), small.rbegin(), small.rend());
    const pelmora::SweepSuggestion suggestion = pelmora::suggestSetting(both);
    ASSERT_TRUE(suggestion.made);
    EXPECT_FALSE(suggestion.byMoments);
    EXPECT_EQ(suggestion.setting.threshold, 12);
    EXPECT_EQ(suggestion.setting.minPixels, 10);
    EXPECT_FALSE(pelmora::suggestSetting({}).made);

    // No knee: nothing suggested, and the line says why.
    const pelmora::SweepSuggestion none = pelmora::suggestSetting(curve(0, {150, 150, 149}));
    EXPECT_FALSE(none.made);
    EXPECT_TRUE(none.flat);
    EXPECT_EQ(
        pelmora::suggestionText(none, curve(0, {150, 150, 149}), {}).rfind("No suggestion: ", 0),
        0U);
}

SweepRow withMoments(SweepSetting setting, std::vector<bool> found, long long outside) {
    SweepRow row;
    row.setting = setting;
    row.found = std::move(found);
    row.snapshotsOutside = outside;
    return row;
}

TEST(SweepSuggestion, FindsTheMomentsWithTheFewestSnapshotsOutsideThem) {
    const struct {
        const char* name;
        std::vector<SweepRow> rows;
        SweepSetting chosen;
        std::vector<std::size_t> missed;
    } rows[] = {
        {"every moment, the least noise",
         {withMoments({5, 10}, {true, true}, 40), withMoments({10, 10}, {true, true}, 3),
          withMoments({20, 10}, {true, false}, 0)},
         {10, 10},
         {}},
        {"equal noise: the lower threshold",
         {withMoments({25, 10}, {true, true}, 0), withMoments({15, 10}, {true, true}, 0),
          withMoments({15, 100}, {true, true}, 0)},
         {15, 10},
         {}},
        {"none finds all: the most, and what it misses",
         {withMoments({5, 10}, {true, false, false}, 0),
          withMoments({10, 10}, {true, false, true}, 9),
          withMoments({10, 100}, {false, true, false}, 0)},
         {10, 10},
         {1}},
        {"none finds any",
         {withMoments({30, 10}, {false}, 2), withMoments({40, 10}, {false}, 1)},
         {40, 10},
         {0}},
    };
    for (const auto& row : rows) {
        const pelmora::SweepSuggestion suggestion = pelmora::suggestSetting(row.rows);
        EXPECT_TRUE(suggestion.byMoments) << row.name;
        EXPECT_EQ(suggestion.setting.threshold, row.chosen.threshold) << row.name;
        EXPECT_EQ(suggestion.setting.minPixels, row.chosen.minPixels) << row.name;
        EXPECT_EQ(suggestion.missed, row.missed) << row.name;
    }
}

}  // namespace
