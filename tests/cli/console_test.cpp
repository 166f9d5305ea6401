#include <gtest/gtest.h>

#include <limits>

#include "TextFormat.h"

namespace {

TEST(ProgressLine, FormatsTheTimeLeft) {
    const struct {
        const char* name;
        double seconds;
        const char* expected;
    } rows[] = {
        {"under a minute", 59.9, "59.9 s"},
        {"rounds up to a minute", 59.96, "1:00"},
        {"a minute", 60.0, "1:00"},
        {"just under an hour rounds up to one", 3599.6, "1:00:00"},
        {"hours, minutes and seconds", 3723.0, "1:02:03"},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), "--"},
        {"infinite", std::numeric_limits<double>::infinity(), "--"},
        {"negative", -1.0, "--"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::timeLeft(row.seconds), row.expected) << row.name;
    }
}

}  // namespace
