#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "OptionTable.h"
#include "ScanOptions.h"
#include "TestSupport.h"

namespace {

TEST(ScanOptions, RecordingOptionsReachTheRecorderAndTheRun) {
    const struct {
        std::vector<std::string> arguments;
        bool events;
        bool report;
        long long eventGapMs;
        int minPixels;
        pelmora::RunClock clock = pelmora::RunClock::Index;
    } rows[] = {
        {{"clip.avi"}, false, false, 2000, 10},
        {{"--report", "clip.avi"}, true, true, 2000, 10},
        {{"--events", "--event-gap", "5", "clip.avi"}, true, false, 5000, 10},
        {{"--event-gap=0.1", "--min-pixels", "0", "clip.avi"}, false, false, 100, 0},
        {{"--event-gap", "1.025", "clip.avi"}, false, false, 1025, 10},
        {{"--clock", "stream", "clip.avi"}, false, false, 2000, 10, pelmora::RunClock::Stream},
        {{"--clock=index", "clip.avi"}, false, false, 2000, 10, pelmora::RunClock::Index},
    };
    for (const auto& row : rows) {
        const std::string name = ::testing::PrintToString(row.arguments);
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        ASSERT_EQ(parsed.error, "") << name;
        const pelmora::RecordOptions record = recordOptions(parsed.options);
        EXPECT_EQ(record.events, row.events) << name;
        EXPECT_EQ(record.report, row.report) << name;
        EXPECT_EQ(record.eventGapMs, row.eventGapMs) << name;
        const pelmora::RunRequest request = scanRequest(parsed.options, "clip.avi", "");
        EXPECT_EQ(request.minPixels, row.minPixels) << name;
        EXPECT_EQ(request.clock, row.clock) << name;
    }
}

TEST(ScanOptions, ClipOptionsReachTheRecorderAndImplyTheLists) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool clips;
        pelmora::ClipMode mode;
        long long beforeMs;
        long long afterMs;
        std::vector<std::string> videos;
    } rows[] = {
        {"none", {"clip.avi"}, false, pelmora::ClipMode::Copy, 2000, 2000, {"clip.avi"}},
        {"copy by default",
         {"--clips", "clip.avi"},
         true,
         pelmora::ClipMode::Copy,
         2000,
         2000,
         {"clip.avi"}},
        {"the mode after it",
         {"--clips", "encode", "clip.avi"},
         true,
         pelmora::ClipMode::Encode,
         2000,
         2000,
         {"clip.avi"}},
        {"the mode joined",
         {"--clips=copy", "clip.avi"},
         true,
         pelmora::ClipMode::Copy,
         2000,
         2000,
         {"clip.avi"}},
        {"last", {"clip.avi", "--clips"}, true, pelmora::ClipMode::Copy, 2000, 2000, {"clip.avi"}},
        {"margins to the millisecond",
         {"--clips", "--before", "0.001", "--after=3600", "clip.avi"},
         true,
         pelmora::ClipMode::Copy,
         1,
         3600000,
         {"clip.avi"}},
        {"no margins",
         {"--before", "0", "--after", "0", "--clips", "encode", "a", "b"},
         true,
         pelmora::ClipMode::Encode,
         0,
         0,
         {"a", "b"}},
        {"a video named like a mode after the options' end",
         {"--clips", "--", "encode"},
         true,
         pelmora::ClipMode::Copy,
         2000,
         2000,
         {"encode"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.videos, row.videos);
        const pelmora::RecordOptions record = recordOptions(parsed.options);
        EXPECT_EQ(record.clips, row.clips);
        EXPECT_EQ(record.events, row.clips);
        EXPECT_EQ(record.clipMode, row.mode);
        EXPECT_EQ(record.clipBeforeMs, row.beforeMs);
        EXPECT_EQ(record.clipAfterMs, row.afterMs);
    }
}

// Each limit of the table of options, on the command line: a value at either end of an option's
// range is taken as it is, and one step past it is refused with the value named.
TEST(ScanOptions, EachOptionTakesTheEndsOfItsRangeAndRefusesOneStepPast) {
    namespace option = pelmora::option;
    const struct {
        const pelmora::OptionEntry& entry;
        long long (*value)(const ScanOptions&);  // in milliseconds for seconds
        bool objects = false;                    // an option of the objects detector
    } rows[] = {
        {option::kThreshold, [](const ScanOptions& o) -> long long { return o.threshold; }},
        {option::kJobs, [](const ScanOptions& o) -> long long { return o.jobs; }},
        {option::kVideosAtOnce, [](const ScanOptions& o) -> long long { return o.videosAtOnce; }},
        {option::kEventGap, [](const ScanOptions& o) { return o.eventGapMs; }},
        {option::kBefore, [](const ScanOptions& o) { return o.clipBeforeMs; }},
        {option::kAfter, [](const ScanOptions& o) { return o.clipAfterMs; }},
        {option::kMinPixels, [](const ScanOptions& o) -> long long { return o.minPixels; }},
        {option::kDigestSpeed, [](const ScanOptions& o) -> long long { return o.digestSpeed; }},
        {option::kMinDuration, [](const ScanOptions& o) { return o.objects.leastMs; }, true},
    };
    std::set<std::string> tested;
    for (const auto& row : rows) {
        const pelmora::OptionEntry& entry = row.entry;
        SCOPED_TRACE(entry.name);
        tested.insert(entry.name);
        const std::string name = std::string("--") + entry.name;
        // Not given, the value the help says is the default.
        const ParsedOptions none = row.objects
                                       ? parseScanOptions({"--detector", "objects", "clip.avi"})
                                       : parseScanOptions({"clip.avi"});
        ASSERT_EQ(none.error, "");
        EXPECT_EQ(row.value(none.options), entry.scanDefault);
        for (const long long edge : {entry.minimum, entry.maximum}) {
            const std::string text = pelmora::optionValueText(entry, edge);
            const ParsedOptions parsed =
                row.objects ? parseScanOptions({"--detector", "objects", name, text, "clip.avi"})
                            : parseScanOptions({name, text, "clip.avi"});
            ASSERT_EQ(parsed.error, "") << text;
            EXPECT_EQ(row.value(parsed.options), edge) << text;
        }
        // One millisecond, or one, past either end; below 0 with a minus sign.
        for (const long long past : {entry.minimum - 1, entry.maximum + 1}) {
            const std::string text = past < 0 ? "-" + pelmora::optionValueText(entry, -past)
                                              : pelmora::optionValueText(entry, past);
            const ParsedOptions parsed =
                row.objects
                    ? parseScanOptions({"--detector=objects", name + "=" + text, "clip.avi"})
                    : parseScanOptions({name + "=" + text, "clip.avi"});
            EXPECT_NE(parsed.error.find("'" + text + "'"), std::string::npos)
                << text << ": " << parsed.error;
        }
    }
    // Every option with a range has its row.
    for (const pelmora::OptionEntry* entry : pelmora::scanOptionTable()) {
        const bool ranged = entry->value == pelmora::OptionValue::Count ||
                            entry->value == pelmora::OptionValue::Seconds;
        EXPECT_EQ(tested.count(entry->name), ranged ? 1u : 0u) << entry->name;
    }
}

// A stretch to sweep is given by time, in a moments file's forms, and only where it can mean
// something.
TEST(ScanOptions, AStretchGoesWithASweepAndRunsForward) {
    const std::optional<long long> none;
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* error;  // empty: accepted, with the times below
        std::optional<long long> fromMs = std::nullopt;
        std::optional<long long> toMs = std::nullopt;
    } rows[] = {
        {"seconds and a clock time",
         {"--sweep", "--from", "1.5", "--to", "00:01:02.250", "v.avi"},
         "",
         1500,
         62250},
        {"from alone", {"--sweep", "--from", "0", "v.avi"}, "", 0, none},
        {"to alone", {"--sweep", "--to=2", "v.avi"}, "", none, 2000},
        {"from without a sweep",
         {"--from", "1", "v.avi"},
         "--from goes with --sweep: it selects the stretch a sweep measures"},
        {"to without a sweep", {"-t", "5", "--to", "1", "v.avi"}, "--to goes with --sweep"},
        {"from at to",
         {"--sweep", "--from", "2", "--to", "00:00:02", "v.avi"},
         "--from must come before --to"},
        {"from after to",
         {"--sweep", "--from", "3", "--to", "2.999", "v.avi"},
         "--from must come before --to"},
        {"a time that is none",
         {"--sweep", "--from", "1:2", "v.avi"},
         "--from must be a time in seconds (12.5) or HH:MM:SS.mmm (00:01:02.500), not '1:2'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        if (*row.error != '\0') {
            EXPECT_NE(parsed.error.find(row.error), std::string::npos) << parsed.error;
            continue;
        }
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.stretch.fromMs, row.fromMs);
        EXPECT_EQ(parsed.options.stretch.toMs, row.toMs);
        EXPECT_EQ(scanRequest(parsed.options, "v.avi", "").times.toMs, row.toMs);
    }
}

}  // namespace

namespace {

// The clock's options reach the run, and the steps that cannot go together say why.
TEST(ScanOptions, ClockAndOverviewOptionsReachTheRunOrSayWhatIsWrong) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* error;  // a part of the error, or "" for none
        pelmora::StartFrom from;
        const char* zone;  // the zone asked for, or "" for the machine's
    } rows[] = {
        {"defaults", {"clip.avi"}, "", pelmora::StartFrom::Any, ""},
        {"name only, a zone by name",
         {"--start-from", "name", "--time-zone", "Europe/Berlin", "clip.avi"},
         "",
         pelmora::StartFrom::Name,
         "Europe/Berlin"},
        {"metadata only, an offset",
         {"--start-from=metadata", "--time-zone=+05:30", "clip.avi"},
         "",
         pelmora::StartFrom::Metadata,
         "+05:30"},
        {"none", {"--start-from", "none", "clip.avi"}, "", pelmora::StartFrom::None, ""},
        {"an unknown source",
         {"--start-from", "clock", "clip.avi"},
         "must be name, metadata or none",
         pelmora::StartFrom::Any,
         ""},
        {"an unknown zone",
         {"--time-zone", "Mars/Olympus", "clip.avi"},
         "the time zone must be",
         pelmora::StartFrom::Any,
         ""},
        {"a zone that is a folder of zones",
         {"--time-zone", "Europe", "clip.avi"},
         "--time-zone: the time zone must be",
         pelmora::StartFrom::Any,
         ""},
        {"a start time that does not exist",
         {"--start-time", "2023-02-29T08:00:00", "clip.avi"},
         "the start time must be",
         pelmora::StartFrom::Any,
         ""},
        {"a start time for two videos",
         {"--start-time", "2024-05-01T08:00:00", "a.avi", "b.avi"},
         "--start-time is the start of one video",
         pelmora::StartFrom::Any,
         ""},
        {"an overview without a folder",
         {"--overview", "clip.avi"},
         "--overview needs -o DIR",
         pelmora::StartFrom::Any,
         ""},
        {"an overview of one shard",
         {"--overview", "-o", "out", "--shard", "0/2", "clip.avi"},
         "--overview-from once every shard is done",
         pelmora::StartFrom::Any,
         ""},
        {"an overview from a folder, with a video",
         {"--overview-from", "out", "clip.avi"},
         "--overview-from takes the folder alone",
         pelmora::StartFrom::Any,
         ""},
        {"an overview from a folder alone",
         {"--overview-from", "out"},
         "",
         pelmora::StartFrom::Any,
         ""},
    };
    for (const auto& row : rows) {
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        if (*row.error != '\0') {
            EXPECT_NE(parsed.error.find(row.error), std::string::npos)
                << row.name << ": " << parsed.error;
            continue;
        }
        ASSERT_EQ(parsed.error, "") << row.name;
        const pelmora::RunRequest request = scanRequest(parsed.options, "clip.avi", "out");
        EXPECT_EQ(request.start.from, row.from) << row.name;
        // The machine's zone is read once, as the options are.
        ASSERT_TRUE(request.start.zone.has_value()) << row.name;
        EXPECT_EQ(request.start.zone->name(),
                  *row.zone != '\0' ? row.zone : pelmora::TimeZone::machine().name())
            << row.name;
    }
}

// The objects detector's options reach the run; its settings go with it alone.
TEST(ScanOptions, TheDetectorAndItsSettingsReachTheRunOrSayWhatIsWrong) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* error;  // a part of the error, or "" for none
        double share;
        long long pixels;
        long long leastMs;
    } rows[] = {
        {"a share and a duration",
         {"--detector", "objects", "--min-object", "0.2%", "--min-duration", "1", "--boxes",
          "clip.avi"},
         "",
         0.002,
         0,
         1000},
        {"pixels", {"--detector=objects", "--min-object=400", "clip.avi"}, "", 0.0005, 400, 400},
        {"a share of nothing",
         {"--detector", "objects", "--min-object", "0%", "clip.avi"},
         "the least object must be",
         0,
         0,
         0},
        {"no number",
         {"--detector", "objects", "--min-object", "big", "clip.avi"},
         "the least object must be",
         0,
         0,
         0},
        {"a setting without the detector",
         {"--min-object", "1%", "clip.avi"},
         "--min-object goes with --detector objects",
         0,
         0,
         0},
        {"an unknown detector", {"--detector", "magic", "clip.avi"}, "classic or objects", 0, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        if (*row.error != '\0') {
            EXPECT_NE(parsed.error.find(row.error), std::string::npos) << parsed.error;
            continue;
        }
        ASSERT_EQ(parsed.error, "");
        const pelmora::RunRequest request = scanRequest(parsed.options, "clip.avi", "out");
        EXPECT_EQ(request.detector, pelmora::DetectorKind::Objects);
        EXPECT_DOUBLE_EQ(request.objects.share, row.share);
        EXPECT_EQ(request.objects.pixels, row.pixels);
        EXPECT_EQ(request.objects.leastMs, row.leastMs);
    }
}

}  // namespace

namespace {

// Every usage error the parser finds is one line that names what is wrong; the program says it
// after its own name, with where to look below it (scan_usage_test.cpp), and scans nothing.
// The ends of each option's range, given joined to the option, have their own test above;
// --min-pixels=100000001 is one of them.
TEST(ScanOptions, EachUsageErrorIsOneLineThatNamesWhatIsWrong) {
    testsupport::TempDir tmp;
    // A real video, which is no picture for a mask.
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(testsupport::writeVideo(video, testsupport::knownMoments()));
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string culprit;  // what the message has to name
    } rows[] = {
        {"unknownOption", {"--frobnicate", video}, "--frobnicate"},
        {"thresholdAboveRange", {"-t", "51", video}, "'51'"},
        {"negativeThreshold", {"-t", "-1", video}, "'-1'"},
        {"thresholdNotANumber", {"-t", "abc", video}, "'abc'"},
        {"fractionalThreshold", {"--threshold", "2.5", video}, "'2.5'"},
        {"emptyThreshold", {"-t", "", video}, "''"},
        {"emptyThresholdAfterEquals", {"--threshold=", video}, "''"},
        {"missingThresholdValue", {video, "-t"}, "-t"},
        {"missingOutputValue", {video, "--output"}, "--output"},
        {"emptyOutputDirectory", {"-o", "", video}, "output directory"},
        {"valueForAFlag", {"--quiet=yes", video}, "--quiet"},
        {"noArgumentsAtAll", {}, "video"},
        {"missingMask", {"--mask", tmp.file("missing.png"), video}, "missing.png"},
        {"maskThatIsNotAPicture", {"--mask=" + video, video}, "not a picture"},
        {"emptyMaskName", {"--mask", "", video}, "mask ''"},
        {"polygonOfTwoPoints", {"--region", "0,0 5,5", video}, "three points or more, not 2"},
        {"malformedPolygon", {"--exclude", "0,0 5;5 9,9", video}, "'5;5' is no point"},
        {"missingRegionFile", {"--region-file", tmp.file("none.txt"), video}, "none.txt"},
        {"regionFileOfNoPolygon", {"--region-file", video, video}, "line 1"},
        {"noWriters", {"--jobs", "0", video}, "'0'"},
        {"negativeMinPixels", {"--min-pixels", "-1", video}, "'-1'"},
        {"eventGapBelowAMillisecond", {"--event-gap", "0.0005", video}, "'0.0005'"},
        {"eventGapAboveADay", {"--event-gap", "86400.001", video}, "'86400.001'"},
        {"eventGapWithoutDigitsAfterThePoint", {"--event-gap=2.", video}, "'2.'"},
        {"valueForReport", {"--report=yes", video}, "--report"},
        {"unknownClock", {"--clock", "wall", video}, "'wall'"},
        {"unknownClipMode", {"--clips=frames", video}, "'frames'"},
        {"unknownExport", {"--export", "edl,mp4", video}, "\"mp4\" is no export format"},
        {"exportTwice", {"--export=vtt,vtt", video}, "\"vtt\" is given twice"},
        {"exportWithASweep", {"--export", "json", "--sweep", video}, "--export"},
        {"emptyClipMode", {"--clips=", video}, "--clips"},
        {"leadAboveAnHour", {"--clips", "--before", "3600.001", video}, "'3600.001'"},
        {"negativeTail", {"--clips", "--after", "-1", video}, "'-1'"},
        {"segmentOfTwoVideos", {"--segment", "0/2", video, video}, "exactly one VIDEO"},
        {"segmentOfABatch", {"--segment", "0/2", "--shard", "0/2", video}, "exactly one VIDEO"},
        {"segmentPastItsCount", {"--segment", "2/2", video}, "'2/2'"},
        {"joinWithAVideo", {"--join", tmp.path(), video}, "without VIDEO"},
        {"joinWithASegment", {"--join", tmp.path(), "--segment", "0/2", video}, "separate steps"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        EXPECT_NE(parsed.error.find(row.culprit), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
    }
}

// A moments file is read with the options, so that one that cannot be used is a usage error
// before anything is written.
TEST(ScanOptions, AMalformedMomentsFileIsRefusedWithItsReason) {
    testsupport::TempDir tmp;
    const std::string moments = tmp.file("moments.txt");
    const struct {
        const char* name;
        std::string text;  // of the file; none for "missing"
        const char* reason;
    } rows[] = {
        {"no end", "0.1\n", "line 1: '0.1' is no moment"},
        {"backwards", "# ok\n2,1\n", "line 2: the moment ends at 00:00:01.000, before it starts"},
        {"no moment at all", "# nothing yet\n", "it holds no moment"},
        {"a time that is none", "1,2\n3,soon\n", "line 2: 'soon' is no time"},
        {"missing", "", "No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const bool missing = row.text.empty();
        const std::string path = missing ? tmp.file("none.txt") : moments;
        if (!missing) {
            std::ofstream(moments) << row.text;
        }
        const ParsedOptions parsed =
            parseScanOptions({"--sweep", "--expect", path, "-o", tmp.file("out"), "v.avi"});
        const std::string said = "'" + path + "': " + row.reason;
        EXPECT_NE(parsed.error.find(missing ? said : "cannot use the moments file " + said),
                  std::string::npos)
            << parsed.error;
    }
}

}  // namespace
