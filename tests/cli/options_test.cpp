#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScanOptions.h"

namespace {

TEST(ScanOptions, RecordingOptionsReachTheRunAndTheRecorder) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        bool events;
        bool report;
        long long eventGapMs;
        int minPixels;
    } rows[] = {
        {"defaults", {}, false, false, 2000, 10},
        {"a report lists the events too", {"--report"}, true, true, 2000, 10},
        {"whole seconds", {"--events", "--event-gap", "5"}, true, false, 5000, 10},
        {"a tenth", {"--event-gap=0.1"}, false, false, 100, 10},
        {"milliseconds", {"--event-gap", "1.025"}, false, false, 1025, 10},
        {"no gap", {"--event-gap", "0"}, false, false, 0, 10},
        {"a day", {"--event-gap", "86400.000"}, false, false, 86400000, 10},
        {"any pixel", {"--min-pixels", "0"}, false, false, 2000, 0},
        {"the most", {"--min-pixels=100000000"}, false, false, 2000, 100000000},
    };
    for (const auto& row : rows) {
        std::vector<std::string> arguments = row.arguments;
        arguments.push_back("clip.avi");
        const ParsedOptions parsed = parseScanOptions(arguments);
        ASSERT_EQ(parsed.error, "") << row.name;
        const pelmora::RecordOptions record = recordOptions(parsed.options);
        EXPECT_EQ(record.events, row.events) << row.name;
        EXPECT_EQ(record.report, row.report) << row.name;
        EXPECT_EQ(record.eventGapMs, row.eventGapMs) << row.name;
        pelmora::RunLog log;
        pelmora::RunRecorder recorder(record, log);
        const pelmora::RunRequest request = runRequest(parsed.options, "clip.avi", "out", recorder);
        EXPECT_EQ(request.minPixels, row.minPixels) << row.name;
        EXPECT_EQ(request.observer != nullptr, row.events) << row.name;
        EXPECT_TRUE(request.watched.wholeFrame()) << row.name;
    }
}

}  // namespace
