// pelmora-scan --search: a question answered from a scan's object index leaves what a scan with
// the question's settings leaves, and one that the index cannot answer exactly is refused.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "ScanProcess.h"
#include "SceneFootage.h"
#include "TestSupport.h"

namespace {

// The files of a folder that a question's answer is judged by: the lists, and each snapshot's
// name and bytes.
std::string answerFiles(const std::string& folder) {
    std::string files;
    for (const std::string& name : testsupport::listDir(folder)) {
        if (name == "events.csv" || name == "snapshots.csv" || name.rfind("IMG", 0) == 0) {
            files += "== " + name + "\n" + testsupport::fileBytes(folder + "/" + name);
        }
    }
    return files;
}

// A yard filmed from 14:00:00: a small person crossing high from 2 s to 5 s, and a larger one
// low from 6.5 s to 11 s.
struct Yard {
    testsupport::TempDir dir;
    std::string video = dir.file("yard_20240501_140000.mkv");
    std::string scan = dir.file("scan");

    Yard() {
        testsupport::SceneRecipe scene;
        scene.seconds = 12.0;
        scene.objects = {{2.0, 5.0, {10, 24}, {20, 20}, {260, 20}},
                         {6.5, 11.0, {20, 48}, {280, 110}, {30, 110}}};
        EXPECT_EQ(testsupport::writeScene(scene, video), "");
    }
};

std::vector<std::string> zoned(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"-q", "--time-zone", "UTC"});
    return arguments;
}

TEST(Search, EachQuestionLeavesWhatAScanWithItsSettingsLeaves) {
    Yard yard;
    const clitest::ScanResult scanned =
        clitest::runScan(zoned({"--detector", "objects", "-o", yard.scan, yard.video}));
    ASSERT_EQ(scanned.exitCode, 0) << scanned.err;
    const struct {
        const char* name;
        std::vector<std::string> question;
        int events;
    } rows[] = {
        // The first event ends 2 s before the second starts: the default gap joins them.
        {"everything", {}, 1},
        {"the high one's feet", {"--region", "0,35 320,35 320,50 0,50"}, 1},
        {"nobody's feet", {"--region", "0,60 320,60 320,100 0,100"}, 0},
        {"above the small one", {"--min-object", "400"}, 1},
        {"below both", {"--min-object", "150"}, 2},
        {"longer than either stays", {"--min-duration", "5"}, 0},
        {"longer than the first follows", {"--min-duration", "3.5"}, 1},
        {"a gap a millisecond short", {"--event-gap", "1.999"}, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string full = yard.dir.file(std::string("full ") + row.name);
        std::vector<std::string> scan = {"--detector", "objects", "--events", "-o", full};
        scan.insert(scan.end(), row.question.begin(), row.question.end());
        scan.push_back(yard.video);
        ASSERT_EQ(clitest::runScan(zoned(scan)).exitCode, 0);
        std::vector<std::string> search = {"--search", yard.scan, "--name", row.name,
                                           "--snapshots"};
        search.insert(search.end(), row.question.begin(), row.question.end());
        const clitest::ScanResult answered = clitest::runScan(zoned(search));
        ASSERT_EQ(answered.exitCode, 0) << answered.err;
        const std::string answer = yard.scan + "/search-" + row.name;
        EXPECT_EQ(answerFiles(answer), answerFiles(full));
        const std::string events = testsupport::fileBytes(answer + "/events.csv");
        EXPECT_EQ(testsupport::splitLines(events).size(), row.events + 1u) << events;
    }
}

// A video whose picture grows part-way is two scenes to the scan: each learnt afresh, with the
// region drawn on its own pixels. The search follows it so.
TEST(Search, AVideoThatChangesSizeIsAnsweredAsItsScanSawIt) {
    testsupport::TempDir dir;
    const char* const kCorner = "0,0 320,0 320,180 0,180";
    std::string joined;
    for (const cv::Size size : {cv::Size(320, 180), cv::Size(640, 360)}) {
        // A person inside the small picture's 320 x 180 and, in the large one, below them.
        testsupport::SceneRecipe scene;
        scene.size = size;
        scene.seconds = 6.0;
        const double top = size.width == 320 ? 20 : 240;
        scene.objects = {{2.0, 5.0, {20, 40}, {20, top}, {260, top}}};
        const std::string part = dir.file(std::to_string(size.width) + ".mkv");
        ASSERT_EQ(testsupport::writeScene(scene, part), "");
        // Lossless H.264 in MPEG-TS, which a decoder follows across the new size; the second
        // part's times go on from the first's.
        const std::string stream = part + ".ts";
        ASSERT_EQ(std::system(("ffmpeg -hide_banner -loglevel error -y -i " + part +
                               (joined.empty() ? "" : " -output_ts_offset 6") +
                               " -c:v libx264 -preset ultrafast -qp 0 -f mpegts " + stream)
                                  .c_str()),
                  0);
        joined += testsupport::fileBytes(stream);
    }
    const std::string video = dir.file("yard_20240501_140000.ts");
    testsupport::writeFile(video, joined);
    const std::string full = dir.file("full");
    const std::string scan = dir.file("scan");
    ASSERT_EQ(clitest::runScan(zoned({"--detector", "objects", "--events", "--region", kCorner,
                                      "-o", full, video}))
                  .exitCode,
              0);
    ASSERT_EQ(clitest::runScan(zoned({"--detector", "objects", "-o", scan, video})).exitCode, 0);
    const clitest::ScanResult answered = clitest::runScan(
        zoned({"--search", scan, "--name", "one", "--snapshots", "--region", kCorner}));
    ASSERT_EQ(answered.exitCode, 0) << answered.err;
    EXPECT_EQ(answerFiles(scan + "/search-one"), answerFiles(full));
    EXPECT_EQ(testsupport::splitLines(testsupport::fileBytes(full + "/events.csv")).size(), 2u);
}

// The frames of a clock window are the scan's: the same snapshots, named and drawn alike, with
// the tracks the frames before it left.
TEST(Search, BetweenTwoClockTimesAnswersWithTheScansFramesThen) {
    Yard yard;
    const std::string full = yard.dir.file("full");
    ASSERT_EQ(clitest::runScan(zoned({"--detector", "objects", "--events", "--event-gap", "1", "-o",
                                      full, yard.video}))
                  .exitCode,
              0);
    ASSERT_EQ(
        clitest::runScan(zoned({"--detector", "objects", "-o", yard.scan, yard.video})).exitCode,
        0);
    // The second person, from 14:00:06.960 on, and the first's last snapshot, at 4.960 s: the
    // window's first moment is in it.
    const clitest::ScanResult answered =
        clitest::runScan(zoned({"--search", yard.scan, "--event-gap", "1", "--snapshots",
                                "--between", "14:00:04.900", "2024-05-01T16:00:12+02:00"}));
    EXPECT_EQ(answered.exitCode, 2) << "a time of day is to the second";
    const clitest::ScanResult seconds = clitest::runScan(
        zoned({"--search", yard.scan, "--event-gap", "1", "--snapshots", "--name", "later",
               "--between", "2024-05-01T14:00:04.960Z", "2024-05-01T16:00:12+02:00"}));
    ASSERT_EQ(seconds.exitCode, 0) << seconds.err;
    const std::string answer = yard.scan + "/search-later";
    const std::vector<std::string> all =
        testsupport::splitLines(testsupport::fileBytes(full + "/snapshots.csv"));
    std::vector<std::string> expected = {all.front()};
    std::string pictures;
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::vector<std::string> fields = testsupport::csvFields(all[i]);
        if (std::stoll(fields[1]) >= 4960) {
            expected.push_back(all[i]);
            pictures += testsupport::fileBytes(full + "/" + fields[4]);
        }
    }
    const std::vector<std::string> found =
        testsupport::splitLines(testsupport::fileBytes(answer + "/snapshots.csv"));
    EXPECT_EQ(found, expected);
    std::string answerPictures;
    for (std::size_t i = 1; i < found.size(); ++i) {
        answerPictures +=
            testsupport::fileBytes(answer + "/" + testsupport::csvFields(found[i])[4]);
    }
    EXPECT_TRUE(answerPictures == pictures);
    EXPECT_EQ(testsupport::splitLines(testsupport::fileBytes(answer + "/events.csv")).size(), 3u);
    // The answer is printed too, an event a line, on the clock.
    EXPECT_NE(seconds.out.find("event 2 from 00:00:06.960"), std::string::npos) << seconds.out;
    EXPECT_NE(seconds.out.find("(2024-05-01T14:00:06.960+00:00)"), std::string::npos);
}

// What the index cannot answer exactly is refused in one line, before anything is written.
TEST(Search, QuestionsTheIndexCannotAnswerExactlyAreRefused) {
    Yard yard;
    ASSERT_EQ(clitest::runScan(zoned({"--detector", "objects", "--exclude", "0,0 40,0 40,40 0,40",
                                      "-o", yard.scan, yard.video}))
                  .exitCode,
              0);
    const std::string index = yard.scan + "/objects.idx";
    const std::string bytes = testsupport::fileBytes(index);
    const std::string empty = yard.dir.file("empty");
    const std::string mask = yard.dir.file("mask.png");
    ASSERT_TRUE(std::filesystem::create_directory(empty));
    ASSERT_TRUE(cv::imwrite(mask, cv::Mat(180, 320, CV_8UC1, cv::Scalar(255))));
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string said;
        std::string damage = std::string();  // what the index is made to hold first
    } rows[] = {
        {"no index", {"--search", empty}, "no object index (objects.idx) in"},
        {"another exclusion",
         {"--search", yard.scan, "--exclude", "0,0 50,0 50,40 0,40"},
         "the scan left out other polygons"},
        {"a mask", {"--search", yard.scan, "--mask", mask}, "a mask would change what it learnt"},
        {"a region outside", {"--search", yard.scan, "--region", "0,0 321,0 321,10"}, "321,0"},
        {"no clock time",
         {"--search", yard.scan, "--between", "noon", "14:00"},
         "'noon' is no clock time"},
        {"the end first",
         {"--search", yard.scan, "--between", "14:00:05", "14:00:01"},
         "must come before"},
        {"a video too", {"--search", yard.scan, yard.video}, "--search takes the folder alone"},
        {"a threshold",
         {"--search", yard.scan, "-t", "5"},
         "--threshold does not go with --search"},
        {"without a search",
         {"--between", "14:00", "15:00", yard.video},
         "--between goes with --search"},
        {"a cut index",
         {"--search", yard.scan},
         "objects.idx is damaged",
         bytes.substr(0, bytes.size() - 40)},
        {"a changed index",
         {"--search", yard.scan},
         "objects.idx is damaged",
         bytes.substr(0, 100) + char(bytes[100] ^ 1) + bytes.substr(101)},
        {"a foreign file", {"--search", yard.scan}, "objects.idx is no object index", "{}\n"},
        {"another version",
         {"--search", yard.scan},
         "of version 9; this program reads version 1",
         bytes.substr(0, 16) + "\x09" + bytes.substr(17)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        testsupport::writeFile(index, row.damage.empty() ? bytes : row.damage);
        const clitest::ScanResult result = clitest::runScan(zoned(row.arguments));
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(row.said), std::string::npos) << result.err;
        // A usage error says where the help is too.
        const bool usage = result.err.find("Try 'pelmora-scan --help'") != std::string::npos;
        EXPECT_EQ(testsupport::splitLines(result.err).size(), usage ? 2u : 1u) << result.err;
        for (const std::string& name : testsupport::listDir(yard.scan)) {
            EXPECT_NE(name.rfind("search-", 0), 0u) << name;
        }
    }
    // The pictures are read again from the video: one that changed since is not read.
    testsupport::writeFile(index, bytes);
    testsupport::SceneRecipe shorter;
    shorter.seconds = 3.0;
    ASSERT_EQ(testsupport::writeScene(shorter, yard.video), "");
    const clitest::ScanResult changed =
        clitest::runScan(zoned({"--search", yard.scan, "--snapshots", "--name", "changed"}));
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_NE(changed.err.find("is not the video its object index was made of"), std::string::npos)
        << changed.err;
    for (const std::string& name : testsupport::listDir(yard.scan + "/search-changed")) {
        EXPECT_NE(name.rfind("IMG", 0), 0u) << name;
    }
}

// A batch's -o folder is searched camera by camera in clock order, into folders of the batch's
// layout, and an overview is made of what the search found.
TEST(Search, ABatchIsAnsweredInClockOrderAndFeedsAnOverview) {
    Yard yard;
    const std::string in = yard.dir.file("in");
    ASSERT_TRUE(std::filesystem::create_directory(in));
    // The gate's file sorts first, but was filmed ten minutes after the yard's.
    std::filesystem::copy_file(yard.video, in + "/gate_20240501_141000.mkv");
    std::filesystem::copy_file(yard.video, in + "/yard_20240501_140000.mkv");
    const std::string day = yard.dir.file("day");
    ASSERT_EQ(clitest::runScan(zoned({"--detector", "objects", "-o", day, in})).exitCode, 0);
    const clitest::ScanResult answered = clitest::runScan(
        zoned({"--search", day, "--name", "door", "--min-object", "400", "--overview"}));
    ASSERT_EQ(answered.exitCode, 0) << answered.err;
    const std::string::size_type yardAt = answered.out.find("yard_20240501_140000.mkv: event 1");
    EXPECT_LT(yardAt, answered.out.find("gate_20240501_141000.mkv: event 1")) << answered.out;
    for (const char* camera : {"gate_20240501_141000", "yard_20240501_140000"}) {
        EXPECT_EQ(testsupport::splitLines(
                      testsupport::fileBytes(day + "/search-door/" + camera + "/events.csv"))
                      .size(),
                  2u);
    }
    EXPECT_NE(testsupport::fileBytes(day + "/search-door/overview.html").find("gate_20240501"),
              std::string::npos);
}

// Killed before its end, a run leaves no index; resumed or joined from stretches, the one an
// uninterrupted run leaves. A run of the other detector into the folder takes the index away
// with the run it was of.
TEST(Search, TheIndexIsWholeOrAbsent) {
    Yard yard;
    const std::string whole = yard.dir.file("whole");
    ASSERT_EQ(clitest::runScan({"-q", "--detector", "objects", "-o", whole, yard.video}).exitCode,
              0);
    {
        clitest::ScanProcess scan({"--detector", "objects", "-o", yard.scan, yard.video});
        ASSERT_TRUE(scan.readUntilErrorLine("[" + yard.scan + "/IMG00002440.jpg]"));
        scan.sendSignal(SIGKILL);
        EXPECT_EQ(scan.finish().termSignal, SIGKILL);
    }
    EXPECT_EQ(testsupport::fileBytes(yard.scan + "/objects.idx"), "");
    ASSERT_EQ(
        clitest::runScan({"-q", "--resume", "--detector", "objects", "-o", yard.scan, yard.video})
            .exitCode,
        0);
    EXPECT_TRUE(testsupport::fileBytes(yard.scan + "/objects.idx") ==
                testsupport::fileBytes(whole + "/objects.idx"));
    EXPECT_LT(testsupport::fileBytes(whole + "/objects.idx").size(), 20000u);
    // Stretches of it are left for the join, which scans it as one run, index and all.
    const std::string split = yard.dir.file("split");
    for (const char* stretch : {"0/2", "1/2"}) {
        ASSERT_EQ(clitest::runScan({"-q", "--detector", "objects", "--segment", stretch, "-o",
                                    split, yard.video})
                      .exitCode,
                  0);
    }
    ASSERT_EQ(clitest::runScan({"-q", "--detector", "objects", "--join", split}).exitCode, 0);
    EXPECT_TRUE(testsupport::fileBytes(split + "/objects.idx") ==
                testsupport::fileBytes(whole + "/objects.idx"));
    ASSERT_EQ(clitest::runScan({"-q", "-o", yard.scan, yard.video}).exitCode, 0);
    for (const std::string& name : testsupport::listDir(yard.scan)) {
        EXPECT_NE(name, "objects.idx");
    }
}

}  // namespace
