// pelmora-scan --sweep as a user runs it: its options, what it prints and writes, and known
// moments given in a file, good or malformed.

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ScanOptions.h"
#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

using clitest::runScan;
using testsupport::TempDir;

TEST(SweepOptions, TakeARangeAndTriggerSizesOrRefuseWhatDoesNotGoWithASweep) {
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        const char* error;  // empty: accepted, with the values below
        int first = 0;
        int last = 0;
        std::vector<int> triggers = {};
        std::vector<std::string> videos = {};
    } rows[] = {
        {"every threshold by default", {"--sweep", "clip.avi"}, "", 0, 50, {10}, {"clip.avi"}},
        {"a range", {"--sweep", "5:8", "clip.avi"}, "", 5, 8, {10}, {"clip.avi"}},
        {"one threshold", {"--sweep=50:50", "clip.avi"}, "", 50, 50, {10}, {"clip.avi"}},
        {"a single threshold",
         {"--sweep", "5", "--sweep-triggers", "0,100000000,10", "clip.avi"},
         "",
         5,
         5,
         {0, 100000000, 10},
         {"clip.avi"}},
        {"a video named by digits, given by its path",
         {"--sweep", "./5"},
         "",
         0,
         50,
         {10},
         {"./5"}},
        {"a range past the thresholds",
         {"--sweep", "0:51", "clip.avi"},
         "--sweep: the sweep must be T1:T2, thresholds from 0 to 50 with T1 no more than T2, or "
         "one threshold T, not '0:51'"},
        {"a range without its end", {"--sweep", "10:", "clip.avi"}, "not '10:'"},
        {"a range backwards", {"--sweep", "9:8", "clip.avi"}, "not '9:8'"},
        {"a trigger size that is no number",
         {"--sweep", "--sweep-triggers", "10,x", "clip.avi"},
         "the sweep's trigger sizes must be whole numbers from 0 to 100000000 separated by "
         "commas, not '10,x'"},
        {"an empty trigger size", {"--sweep", "--sweep-triggers", "10,", "clip.avi"}, "'10,'"},
        {"a threshold", {"--sweep", "-t", "5", "clip.avi"}, "it does not go with --threshold"},
        {"a trigger size", {"--sweep", "--min-pixels", "5", "clip.avi"}, "with --min-pixels"},
        {"resume", {"--sweep", "--resume", "clip.avi"}, "it does not go with --resume"},
        {"clips", {"--sweep", "--clips", "clip.avi"}, "it does not go with --clips"},
        {"an overview", {"--sweep", "--overview", "-o", "o", "clip.avi"}, "with --overview"},
        {"the objects detector",
         {"--sweep", "--detector", "objects", "clip.avi"},
         "it does not go with --detector objects"},
        {"a contact sheet", {"--sweep", "--contact-sheet", "clip.avi"}, "with --contact-sheet"},
        {"trigger sizes alone", {"--sweep-triggers", "5", "clip.avi"}, "goes with --sweep"},
        {"moments alone", {"--expect", "moments.txt", "clip.avi"}, "--expect goes with --sweep"},
    };
    for (const auto& row : rows) {
        const ParsedOptions parsed = parseScanOptions(row.arguments);
        if (*row.error != '\0') {
            EXPECT_NE(parsed.error.find(row.error), std::string::npos)
                << row.name << ": " << parsed.error;
            continue;
        }
        ASSERT_EQ(parsed.error, "") << row.name;
        EXPECT_TRUE(parsed.options.sweep) << row.name;
        EXPECT_EQ(parsed.options.sweepFirst, row.first) << row.name;
        EXPECT_EQ(parsed.options.sweepLast, row.last) << row.name;
        EXPECT_EQ(parsed.options.sweepTriggers, row.triggers) << row.name;
        EXPECT_EQ(parsed.options.videos, row.videos) << row.name;
    }
}

// sweep.csv's rows as the JSON summary carries them, in its columns' order and with its CRLF
// line endings.
std::string csvOfJson(const nlohmann::json& rows, bool withMoments) {
    std::string text =
        "threshold,trigger,snapshots,events,busiest_minute,first_ms,last_ms,first,last";
    text += withMoments ? ",moments_found,snapshots_outside\r\n" : "\r\n";
    const auto ms = [](const nlohmann::json& value) {
        return value.is_null() ? std::string() : std::to_string(value.get<long long>());
    };
    const auto clock = [](const nlohmann::json& value) {
        if (value.is_null()) {
            return std::string();
        }
        const long long at = value.get<long long>();
        char text[32];
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", at / 3600000,
                      at / 60000 % 60, at / 1000 % 60, at % 1000);
        return std::string(text);
    };
    for (const nlohmann::json& row : rows) {
        text += std::to_string(row["threshold"].get<int>()) + "," +
                std::to_string(row["trigger"].get<int>()) + "," +
                std::to_string(row["snapshots"].get<long long>()) + "," +
                std::to_string(row["events"].get<long long>()) + "," +
                std::to_string(row["busiest_minute"].get<long long>()) + "," + ms(row["first_ms"]) +
                "," + ms(row["last_ms"]) + "," + clock(row["first_ms"]) + "," +
                clock(row["last_ms"]);
        if (withMoments) {
            text += "," + std::to_string(row["moments_found"].get<long long>()) + "," +
                    std::to_string(row["snapshots_outside"].get<long long>());
        }
        text += "\r\n";
    }
    return text;
}

TEST(SweepScan, WritesItsTableAndPageOnlyAndSaysWhichMomentNoSettingFinds) {
    TempDir tmp;
    const std::string video = tmp.file("squares.avi");
    ASSERT_TRUE(testsupport::writeVideo(video, testsupport::knownMoments()));
    // Motion at 0.2 s and 1.2 s and a square that goes at 3.2 s; nothing moves at 2 s.
    const std::string moments = tmp.file("moments.txt");
    std::ofstream(moments) << "# by hand\n0.1,0.3\n00:00:01.100,00:00:01.300\n2,2.5\n";
    const std::string out = tmp.file("out");
    const clitest::ScanResult sweep =
        runScan({"--sweep", "10:30", "--sweep-triggers", "10,100", "--expect", moments,
                 "--event-gap", "0.5", "--report", "--summary", "json", "-o", out, video});
    ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
    EXPECT_EQ(testsupport::listDir(out), (std::vector<std::string>{"sweep.csv", "sweep.html"}));
    const nlohmann::json line = nlohmann::json::parse(sweep.out);
    EXPECT_EQ(line["written"], 0);
    const nlohmann::json& table = line["sweep"];
    ASSERT_EQ(table["rows"].size(), 21U * 2U);
    EXPECT_EQ(csvOfJson(table["rows"], true), testsupport::fileBytes(out + "/sweep.csv"));
    // White on black: every threshold sees the same, and the small square escapes the larger
    // trigger, so the lowest threshold at the smaller trigger finds both moments, with the
    // square's going as the one snapshot outside them.
    const nlohmann::json& suggested = table["suggested"];
    EXPECT_EQ(suggested["rule"], "moments");
    EXPECT_EQ(suggested["threshold"], 10);
    EXPECT_EQ(suggested["trigger"], 10);
    EXPECT_EQ(suggested["missed"],
              nlohmann::json::parse(R"([{"moment":3,"start_ms":2000,"end_ms":2500}])"));
    EXPECT_NE(testsupport::fileBytes(out + "/sweep.html").find("Missed: moment 3"),
              std::string::npos);

    // The suggested setting run for real takes as many snapshots as its row says.
    const clitest::ScanResult text =
        runScan({"--sweep", "10:30", "--sweep-triggers", "10,100", "--expect", moments,
                 "--event-gap", "0.5", "-o", tmp.file("text"), video});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("Suggested: --threshold 10 --min-pixels 10: no setting finds all 3 "
                            "known moments; it finds 2, the most, with 1 snapshots outside them, "
                            "and misses moment 3 (00:00:02.000 to 00:00:02.500)\n"),
              std::string::npos)
        << text.out;
    const clitest::ScanResult run =
        runScan({"-t", "10", "--min-pixels", "10", "--events", "-o", tmp.file("run"), "-q", video});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    long long listed = -1;
    std::istringstream list(testsupport::fileBytes(tmp.file("run") + "/snapshots.csv"));
    for (std::string row; std::getline(list, row);) {
        ++listed;
    }
    EXPECT_EQ(listed, table["rows"][0]["snapshots"].get<long long>());
}

// A stretch is swept as a copy of the video cut to exactly its frames would be, counted from
// black at its first frame; only the times stay the video's own.
TEST(SweepScan, AStretchSweepsAsACopyCutToItsFrames) {
    TempDir tmp;
    const std::vector<cv::Mat> frames = testsupport::knownMoments();
    const std::string video = tmp.file("squares.avi");
    ASSERT_TRUE(testsupport::writeVideo(video, frames));
    // At 25 frames per second: 0.41 s lies a quarter frame past frame 10, so frame 11 (440 ms)
    // starts the stretch, and 3.25 s past frame 81 (3240 ms), which ends it.
    const long long firstFrame = 11;
    const long long lastFrame = 81;
    const long long offsetMs = 440;
    const std::string cut = tmp.file("cut.avi");
    ASSERT_TRUE(testsupport::writeVideo(
        cut, std::vector<cv::Mat>(frames.begin() + firstFrame, frames.begin() + lastFrame + 1)));
    const std::vector<std::string> sweep = {"--sweep",     "0:50", "--sweep-triggers", "10,100",
                                            "--event-gap", "0.5",  "--summary",        "json"};
    std::vector<std::string> ofStretch = sweep;
    ofStretch.insert(ofStretch.end(),
                     {"--from", "0.41", "--to", "00:00:03.250", "-o", tmp.file("stretch"), video});
    std::vector<std::string> ofCut = sweep;
    ofCut.insert(ofCut.end(), {"-o", tmp.file("cut"), cut});
    const clitest::ScanResult stretch = runScan(ofStretch);
    const clitest::ScanResult whole = runScan(ofCut);
    ASSERT_EQ(stretch.exitCode, 0) << stretch.err;
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    nlohmann::json expected = nlohmann::json::parse(whole.out)["sweep"]["rows"];
    const nlohmann::json found = nlohmann::json::parse(stretch.out)["sweep"]["rows"];
    ASSERT_EQ(expected.size(), 51U * 2U);
    for (nlohmann::json& row : expected) {
        for (const char* time : {"first_ms", "last_ms"}) {
            if (!row[time].is_null()) {
                row[time] = row[time].get<long long>() + offsetMs;
            }
        }
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(csvOfJson(found, false), testsupport::fileBytes(tmp.file("stretch") + "/sweep.csv"));
    // The stretch starts on the first square, compared with black, and the last square goes
    // inside it: every setting sees both.
    EXPECT_EQ(found[0]["first_ms"], offsetMs);
    EXPECT_EQ(found[0]["last_ms"], 3200);

    // A stretch the video does not hold fails the video, with the times said.
    const clitest::ScanResult past =
        runScan({"--sweep", "--to", "3.401", "-o", tmp.file("past"), video});
    EXPECT_EQ(past.exitCode, 1);
    EXPECT_NE(past.err.find("the stretch ends at 3.401 s, past the video's end at 3.400 s"),
              std::string::npos)
        << past.err;
}

}  // namespace
