#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "ScanProcess.h"
#include "TestSupport.h"
#include "TextPattern.h"

// A recorder's export of a morning, three cameras, each clip two seconds with a square that
// appears one second in: the overview of the batch puts every event on one clock.

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::writeVideo;
using testsupport::writeVideoWithFfmpeg;

// 2 s at 25 frames per second, black, a white square from 1 s on.
std::vector<cv::Mat> clipFrames() {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 50; ++i) {
        cv::Mat frame(48, 64, CV_8UC3, cv::Scalar::all(0));
        if (i >= 25) {
            cv::rectangle(frame, cv::Rect(20, 10, 12, 12), cv::Scalar::all(255), cv::FILLED);
        }
        frames.push_back(frame);
    }
    return frames;
}

// "camera clock" of each event in the page's list, in its order.
std::vector<std::string> listedEvents(const std::string& page) {
    static const pelmora::TextPattern row(
        "<tr class=\"event\" data-camera=\"([^\"]*)\" data-clock=\"([^\"]*)\"");
    std::vector<std::string> events;
    for (const pelmora::PatternMatch& event : row.matchesIn(page)) {
        events.push_back(event[1] + " " + event[2]);
    }
    return events;
}

std::vector<std::string> joints(const std::string& page) {
    static const pelmora::TextPattern row(
        "<tr class=\"(gap|overlap)\"><td>([^<]*)</td>.*?<td "
        "class=\"clock\">([^<]*)</td><td class=\"clock\">([^<]*)</td>");
    std::vector<std::string> found;
    for (const pelmora::PatternMatch& joint : row.matchesIn(page)) {
        found.push_back(joint[2] + " " + joint[1] + " " + joint[3] + " to " + joint[4]);
    }
    return found;
}

// The page without the line that says when it was made.
std::string withoutMadeAt(const std::string& page) {
    return pelmora::TextPattern("<p class=\"made\">[^\n]*").replaced(page, "");
}

class Overview : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<cv::Mat> frames = clipFrames();
        const std::vector<std::string> named = {
            "cam1/20240501_080000.avi",     "cam1/20240501_090000.avi",
            "cam1/20240501_100000.avi",     "cam2/ch02_20240501080001.avi",
            "cam2/ch02_20240501080002.avi", "cam2/ch02_20240501090000.avi",
            "cam3/2024-05-01/083000.avi",   "cam3/unknown.avi"};
        for (const std::string& name : named) {
            fs::create_directories(fs::path(input(name)).parent_path());
            ASSERT_TRUE(writeVideo(input(name), frames));
            videos.push_back(input(name));
        }
        // A phone's clip: its only clock is the container's, in UTC.
        const std::string phone = input("cam3/phone.mkv");
        ASSERT_TRUE(writeVideoWithFfmpeg(
            phone, frames, 25.0, "-c:v ffv1 -metadata creation_time=2024-05-01T06:45:00.000000Z"));
        videos.push_back(phone);
    }

    std::string input(const std::string& name) const { return dir.file("in/" + name); }

    TempDir dir;
    std::vector<std::string> videos;
};

TEST_F(Overview, EveryCamerasEventsStandOnOneClockWithTheGapsAndOverlaps) {
    std::vector<std::string> arguments = {"-q",          "-o",     dir.file("out"), "--overview",
                                          "--time-zone", "+02:00", "--export",      "json"};
    arguments.insert(arguments.end(), videos.begin(), videos.end());
    const clitest::ScanResult result = clitest::runScan(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // Each summary line says where the start came from.
    EXPECT_NE(result.out.find("starts 2024-05-01T08:00:00.000+02:00 from the file name"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("starts 2024-05-01T08:45:00.000+02:00 from the file's creation time"),
              std::string::npos)
        << result.out;
    const std::string page = testsupport::fileBytes(dir.file("out/overview.html"));

    const std::vector<std::string> expected = {
        "cam1 2024-05-01T08:00:01.000+02:00", "cam2 2024-05-01T08:00:02.000+02:00",
        "cam2 2024-05-01T08:00:03.000+02:00", "cam3 2024-05-01T08:30:01.000+02:00",
        "cam3 2024-05-01T08:45:01.000+02:00", "cam1 2024-05-01T09:00:01.000+02:00",
        "cam2 2024-05-01T09:00:01.000+02:00", "cam1 2024-05-01T10:00:01.000+02:00"};
    EXPECT_EQ(listedEvents(page), expected);
    // The day's events for scripts, in the same order, as Python's own reader finds them; the
    // video nothing dates is listed with its events but none of them on the clock.
    std::string lines;
    for (const std::string& event : expected) {
        lines += event + "\n";
    }
    const std::string read = R"(
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["schema"] == "pelmora-day-events" and doc["version"] == 1
for e in doc["events"]:
    print(e["camera"], e["start_clock_time"])
print([(v["video"].split("/")[-1], v["events"]) for v in doc["videos"] if not v["start_clock_time"]])
)";
    EXPECT_EQ(testsupport::commandOutput("python3 -c " + testsupport::shellQuoted(read) + " " +
                                         testsupport::shellQuoted(dir.file("out/day-events.json")) +
                                         " 2>&1"),
              lines + "[('unknown.avi', 1)]\n");

    const std::vector<std::string> expectedJoints = {
        "cam1 gap 2024-05-01 08:00:02 +02:00 to 2024-05-01 09:00:00 +02:00",
        "cam1 gap 2024-05-01 09:00:02 +02:00 to 2024-05-01 10:00:00 +02:00",
        "cam2 overlap 2024-05-01 08:00:02 +02:00 to 2024-05-01 08:00:03 +02:00",
        "cam2 gap 2024-05-01 08:00:04 +02:00 to 2024-05-01 09:00:00 +02:00",
        "cam3 gap 2024-05-01 08:30:02 +02:00 to 2024-05-01 08:45:00 +02:00"};
    EXPECT_EQ(joints(page), expectedJoints);

    // The video nothing dates is listed apart, by its time in the video.
    const std::string::size_type apart = page.find("unknown.avi");
    ASSERT_NE(apart, std::string::npos);
    EXPECT_EQ(listedEvents(page.substr(apart)).size(), 0u);
    EXPECT_NE(page.find("00:00:01.000", apart), std::string::npos);

    // Self-contained: nothing fetched, every picture embedded, links to the folders beside it.
    EXPECT_EQ(page.find("src=\"http"), std::string::npos);
    EXPECT_EQ(page.find("href=\"http"), std::string::npos);
    EXPECT_EQ(page.find("url("), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("<img src=\"data:image/jpeg;base64,"), page.find("<img src=\""));
    // Each camera's videos in a folder of the camera's name, as they were given.
    EXPECT_NE(page.find("href=\"cam1/20240501_080000/report.html#event-1\""), std::string::npos);
    EXPECT_TRUE(fs::exists(dir.file("out/cam1/20240501_080000/report.html")));
    EXPECT_TRUE(fs::exists(dir.file("out/cam3/2024-05-01/083000/report.html")));
}

TEST_F(Overview, MadeFromTheFoldersOfAShardedBatchIsTheBatchsOwn) {
    std::vector<std::string> whole = {"-q",         "-o",          dir.file("whole"),
                                      "--overview", "--time-zone", "+02:00"};
    whole.insert(whole.end(), videos.begin(), videos.end());
    ASSERT_EQ(clitest::runScan(whole).exitCode, 0);
    for (const char* shard : {"0/2", "1/2"}) {
        std::vector<std::string> part = {"-q",          "-o",     dir.file("shards"), "--report",
                                         "--time-zone", "+02:00", "--shard",          shard};
        part.insert(part.end(), videos.begin(), videos.end());
        const clitest::ScanResult result = clitest::runScan(part);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    const clitest::ScanResult made =
        clitest::runScan({"--overview-from", dir.file("shards"), "--time-zone", "+02:00"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    // Compared whole, not printed: the pages embed every thumbnail.
    EXPECT_TRUE(withoutMadeAt(testsupport::fileBytes(dir.file("shards/overview.html"))) ==
                withoutMadeAt(testsupport::fileBytes(dir.file("whole/overview.html"))));

    // A folder with no finished run says so rather than writing an empty page.
    fs::create_directories(dir.file("empty"));
    const clitest::ScanResult none = clitest::runScan({"--overview-from", dir.file("empty")});
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.err.find("holds no finished run"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(dir.file("empty/overview.html")));
}

// The JSON summary and the record say the start and its source, or that none is known.
TEST_F(Overview, TheJsonSummaryAndTheRecordSayTheStartAndItsSource) {
    const clitest::ScanResult result =
        clitest::runScan({"-q", "-o", dir.file("out"), "--summary", "json", "--time-zone", "+02:00",
                          input("cam3/phone.mkv"), input("cam3/unknown.avi")});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("\"start\":\"2024-05-01T08:45:00.000+02:00\",\"start_source\":"
                              "\"metadata\""),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\"start\":null,\"start_source\":\"none\""), std::string::npos)
        << result.out;
    const std::string record = testsupport::fileBytes(dir.file("out/phone/.pelmora-run.json"));
    EXPECT_NE(record.find("\"source\": \"metadata\""), std::string::npos) << record;
    EXPECT_NE(record.find("\"time\": \"2024-05-01T08:45:00.000+02:00\""), std::string::npos)
        << record;
}

}  // namespace
