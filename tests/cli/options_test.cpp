#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScanOptions.h"

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
        pelmora::RunLog log;
        pelmora::RunRecorder recorder(record, log);
        const pelmora::RunRequest request = runRequest(parsed.options, "clip.avi", "", recorder);
        EXPECT_EQ(request.minPixels, row.minPixels) << name;
        EXPECT_EQ(request.clock, row.clock) << name;
        // Nothing observes a run that records nothing.
        EXPECT_EQ(request.observer != nullptr, row.events) << name;
    }
}

}  // namespace
