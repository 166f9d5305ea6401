#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "DetectionRun.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "StatusLine.h"
#include "VideoJob.h"

namespace {

using pelmora::FrameClock;
using pelmora::FrameTime;

struct NameRow {
    const char* name;
    long long frameIndex;
    double fps;
    const char* expected;
};

TEST(SnapshotNames, FollowTheFrameTimeInWholeMilliseconds) {
    const std::vector<NameRow> rows = {
        {"first frame at 25 fps", 0, 25.0, "IMG00000000.jpg"},
        {"second frame at 25 fps", 1, 25.0, "IMG00000040.jpg"},
        {"third frame at 25 fps", 2, 25.0, "IMG00000080.jpg"},
        {"fourth frame at 25 fps", 3, 25.0, "IMG00000120.jpg"},
        {"29.97 fps rounds 33.37 down", 1, 29.97, "IMG00000033.jpg"},
        {"29.97 fps rounds 66.73 up", 2, 29.97, "IMG00000067.jpg"},
        {"29.97 fps, 100.1", 3, 29.97, "IMG00000100.jpg"},
        {"29.97 fps, 133.47", 4, 29.97, "IMG00000133.jpg"},
        {"a half millisecond goes up", 1, 16.0, "IMG00000063.jpg"},
        {"last name of eight digits", 24999, 25.0, "IMG00999960.jpg"},
        {"one million milliseconds stays digits", 25000, 25.0, "IMG01000000.jpg"},
        {"just past one million", 25001, 25.0, "IMG01000040.jpg"},
        {"past the 32-bit millisecond counter", 3000000, 30.0, "IMG100000000.jpg"},
    };
    for (const NameRow& row : rows) {
        const FrameTime time = FrameTime::fromRate(row.frameIndex, row.fps);
        EXPECT_EQ(pelmora::snapshotFileName(time.snapshotMs), row.expected) << row.name;
    }
}

TEST(SnapshotNames, StayDistinctWhereSixSignificantDigitsWouldNot) {
    // 1,000,000 and 1,000,040 ms agree in six significant digits.
    const FrameTime a = FrameTime::fromRate(25000, 25.0);
    const FrameTime b = FrameTime::fromRate(25001, 25.0);
    EXPECT_NE(pelmora::snapshotFileName(a.snapshotMs), pelmora::snapshotFileName(b.snapshotMs));
}

struct StatusRow {
    const char* name;
    double seconds;
    int changedPixels;
    int threshold;
    const char* expected;
};

TEST(StatusLine, PadsEachField) {
    const std::vector<StatusRow> rows = {
        {"index 1 at 25 fps, nothing changed", 1 / 25.0, 0, 20, "00000.040     0  20"},
        {"index 50 at 25 fps, 123 pixels", 50 / 25.0, 123, 20, "00002.000   123  20"},
        {"wide counts push the line out", 12345.5, 1234567, 0, "12345.500 1234567   0"},
        {"threshold 50", 0.0, 99999, 50, "00000.000 99999  50"},
    };
    for (const StatusRow& row : rows) {
        EXPECT_EQ(pelmora::statusLine(row.seconds, row.changedPixels, row.threshold), row.expected)
            << row.name;
    }
    EXPECT_EQ(pelmora::statusLine(1 / 25.0, 0, 20).size(), 19u);
}

TEST(JoinPath, UsesExactlyOneSlash) {
    EXPECT_EQ(pelmora::joinPath("/clips/garden", "IMG00000000.jpg"),
              "/clips/garden/IMG00000000.jpg");
    EXPECT_EQ(pelmora::joinPath("/clips/garden/", "IMG00000000.jpg"),
              "/clips/garden//IMG00000000.jpg");
    // An empty directory is the current one, never the filesystem root.
    EXPECT_EQ(pelmora::joinPath("", "IMG00000000.jpg"), "IMG00000000.jpg");
}

TEST(VideoPathRule, AcceptsOnlyAPathEndingInAviInAnyCase) {
    const struct {
        const char* path;
        bool accepted;
    } rows[] = {
        {"", false},
        {"a", false},
        {"av", false},
        {"avi", true},
        {"/clips/garden.avi", true},
        {"/clips/gardenavi", true},
        {"/clips/garden.AVI", true},
        {"/clips/garden.Avi", true},
        {"/clips/garden.avI", true},
        {"AVI", true},
        {"/clips/garden.AV", false},
        {"/clips/garden.avj", false},
        {"/clips/garden.avi ", false},
        {"/clips/garden.mp4", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::VideoJob::isAcceptedVideoPath(row.path), row.accepted)
            << '"' << row.path << '"';
    }
}

TEST(ProgressPercent, TruncatesAndRefusesWhatIsNoPercentage) {
    const struct {
        const char* name;
        long long done;
        long long count;
        int expected;
    } rows[] = {
        {"one of three", 1, 3, 33},
        {"two of three", 2, 3, 66},
        {"three of three", 3, 3, 100},
        {"nothing done", 0, 10, 0},
        {"count of zero", 1, 0, -1},
        {"zero of zero", 0, 0, -1},
        {"more frames than counted", 4, 3, -1},
        {"a hair over 100 still truncates to 100", 1001, 1000, 100},
        {"negative count", 1, -5, -1},
        {"huge video", 2999999999LL, 3000000000LL, 99},
        {"58 of a hundred exactly, where doubles make it 57.99", 232, 400, 58},
        {"29 of a hundred exactly", 116, 400, 29},
        {"every frame of the longest count", 9223372036854775807LL, 9223372036854775807LL, 100},
        {"one frame past the count's hundredth", 101, 100, -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::progressPercent(row.done, row.count), row.expected) << row.name;
    }
}

TEST(FrameClock, UsesTheFrameRateWhenItIsUsable) {
    FrameClock clock(25.0);
    ASSERT_TRUE(clock.rateUsable());
    // The stream's timestamps are ignored then.
    const FrameTime time = clock.timeOf(3, 999.0);
    EXPECT_EQ(time.snapshotMs, 120);
    EXPECT_DOUBLE_EQ(time.seconds, 0.12);
}

TEST(FrameClock, TimesAnUnusableRateFromTheStreamElseAt25Fps) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double fps;
        std::vector<double> streamMs;
        std::vector<long long> expectedMs;
    } rows[] = {
        {"zero rate, stream advances", 0.0, {0.0, 33.4, 66.7, 100.1}, {0, 33, 67, 100}},
        {"negative rate, stream stuck at 0", -1.0, {0.0, 0.0, 0.0}, {0, 40, 80}},
        {"NaN rate, stream NaN", nan, {nan, nan, nan}, {0, 40, 80}},
        {"infinite rate, stream goes back", inf, {0.0, 500.0, 100.0, 1000.0}, {0, 500, 540, 1000}},
        {"less than a millisecond apart", 0.0, {0.0, 0.4, 0.8}, {0, 40, 80}},
        {"stream starts late", 0.0, {5000.0, 5040.0}, {5000, 5040}},
    };
    for (const auto& row : rows) {
        FrameClock clock(row.fps);
        EXPECT_FALSE(clock.rateUsable()) << row.name;
        for (std::size_t i = 0; i < row.streamMs.size(); ++i) {
            const auto index = static_cast<long long>(i);
            const FrameTime time = clock.timeOf(index, row.streamMs[i]);
            EXPECT_EQ(time.snapshotMs, row.expectedMs[i]) << row.name << ", frame " << i;
            EXPECT_TRUE(std::isfinite(time.seconds)) << row.name;
        }
    }
}

}  // namespace

namespace {

TEST(SnapshotNamer, NumbersRepeatsOfAMillisecondWithinARun) {
    // Times of frames at 2,000 frames per second: two fall in each millisecond.
    const long long times[] = {0, 1, 1, 2, 2, 2, 1000000, 1000001};
    const char* const expected[] = {"IMG00000000.jpg", "IMG00000001.jpg",   "IMG00000001-2.jpg",
                                    "IMG00000002.jpg", "IMG00000002-2.jpg", "IMG00000002-3.jpg",
                                    "IMG01000000.jpg", "IMG01000001.jpg"};
    pelmora::SnapshotNamer namer;
    for (std::size_t i = 0; i < std::size(times); ++i) {
        EXPECT_EQ(namer.next(times[i]), expected[i]) << "snapshot " << i;
    }
}

TEST(SnapshotNamer, GivesEveryNameOfALongVideoTheDigitsOfItsLongestTime) {
    const struct {
        long long longestMs;
        int digits;
    } lengths[] = {{0, 8},         {99999999, 8},    {100000000, 9},
                   {999999999, 9}, {1000000000, 10}, {9223372036854775807LL, 19}};
    for (const auto& length : lengths) {
        EXPECT_EQ(pelmora::snapshotDigits(length.longestMs), length.digits) << length.longestMs;
    }
    pelmora::SnapshotNamer namer(9);
    EXPECT_EQ(namer.next(0), "IMG000000000.jpg");
    EXPECT_EQ(namer.next(40), "IMG000000040.jpg");
    EXPECT_EQ(namer.next(40), "IMG000000040-2.jpg");
    EXPECT_EQ(namer.next(100000000), "IMG100000000.jpg");
}

TEST(SnapshotNameRule, RecognisesExactlyTheNamesOfSnapshotsAndTheirTemporaryFiles) {
    const struct {
        const char* name;
        const char* fileName;
        bool snapshot;
        bool temporary;
    } rows[] = {
        {"eight digits", "IMG00000040.jpg", true, false},
        {"a repeat within a run", "IMG00000040-2.jpg", true, false},
        {"a repeat of two digits", "IMG00000040-12.jpg", true, false},
        {"past eight digits", "IMG123456789.jpg", true, false},
        {"no time", "IMG.jpg", false, false},
        {"seven digits", "IMG0000040.jpg", false, false},
        {"padded past eight digits, as in a long video", "IMG000000040.jpg", true, false},
        {"lower case", "img00000040.jpg", false, false},
        {"another extension", "IMG00000040.jpeg", false, false},
        {"upper-case extension", "IMG00000040.JPG", false, false},
        {"something before", "xIMG00000040.jpg", false, false},
        {"a camera's photo", "IMG_1234.jpg", false, false},
        {"the first use has no number", "IMG00000040-1.jpg", false, false},
        {"a padded repeat", "IMG00000040-02.jpg", false, false},
        {"a dash alone", "IMG00000040-.jpg", false, false},
        {"a snapshot being written", ".IMG00000040.jpg.123.part", false, true},
        {"a repeat being written", ".IMG00000040-2.jpg.123.part", false, true},
        {"no process number", ".IMG00000040.jpg.part", false, false},
        {"no process number but its dot", ".IMG00000040.jpg..part", false, false},
        {"a process number with a letter", ".IMG00000040.jpg.12x.part", false, false},
        {"not hidden", "IMG00000040.jpg.123.part", false, false},
        {"no snapshot inside", ".IMGholiday.jpg.123.part", false, false},
        {"another file of the run", ".report.html.123.part", false, false},
        {"a hidden dot alone", ".part", false, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::isSnapshotFileName(row.fileName), row.snapshot) << row.name;
        EXPECT_EQ(pelmora::isSnapshotTemporaryName(row.fileName), row.temporary) << row.name;
    }
}

TEST(SnapshotNameRule, RecognisesWhatTheNamerAndTheFileWriterMake) {
    pelmora::SnapshotNamer namer;
    for (const long long ms : {0LL, 40LL, 40LL, 40LL, 99999999LL, 100000000LL, 123456789012LL}) {
        const std::string name = namer.next(ms);
        EXPECT_TRUE(pelmora::isSnapshotFileName(name)) << name;
        const std::string temporary = pelmora::temporaryPath(pelmora::joinPath("/clips", name));
        const std::string temporaryName = temporary.substr(temporary.rfind('/') + 1);
        EXPECT_TRUE(pelmora::isSnapshotTemporaryName(temporaryName)) << temporaryName;
    }
}

TEST(FramesText, GivesTheAnnouncedCountOnlyWhenItIsMoreThanOnePercentOff) {
    using Status = pelmora::RunReport::Status;
    const struct {
        const char* name;
        Status status;
        long long read;
        long long announced;
        const char* expected;
    } rows[] = {
        {"as announced", Status::Finished, 795, 795, "795 frames"},
        {"one frame", Status::Finished, 1, 1, "1 frame"},
        {"exactly one percent fewer", Status::Finished, 99, 100, "99 frames"},
        {"just over one percent fewer", Status::Finished, 98, 100, "98 frames read, 100 announced"},
        {"exactly one percent more", Status::Finished, 101, 100, "101 frames"},
        {"truncated", Status::Finished, 68, 444, "68 frames read, 444 announced"},
        {"more than announced", Status::Finished, 500, 444, "500 frames read, 444 announced"},
        {"nothing announced", Status::Finished, 68, 0, "68 frames"},
        {"a stopped run reads fewer", Status::Stopped, 68, 444, "68 frames"},
    };
    for (const auto& row : rows) {
        pelmora::RunReport report;
        report.status = row.status;
        report.framesRead = row.read;
        report.framesAnnounced = row.announced;
        EXPECT_EQ(pelmora::framesText(report), row.expected) << row.name;
    }
}

}  // namespace
