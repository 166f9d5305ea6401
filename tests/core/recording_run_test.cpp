#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "ContactSheet.h"
#include "DetectionRun.h"
#include "FrameDetector.h"
#include "RunRecorder.h"
#include "TestSupport.h"

namespace {

using pelmora::RunRecorder;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

const cv::Size kSize(64, 48);
const cv::Scalar kWhite = cv::Scalar::all(255);

const std::string kSnapshotList =
    "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms,start\r\n"
    "5,200,00:00:00.200,36,IMG00000200.jpg,yes,200,0\r\n"
    "6,240,00:00:00.240,72,IMG00000240.jpg,yes,240,0\r\n"
    "30,1200,00:00:01.200,136,IMG00001200.jpg,no,1200,0\r\n"
    "31,1240,00:00:01.240,200,IMG00001240.jpg,yes,1240,0\r\n"
    "80,3200,00:00:03.200,100,IMG00003200.jpg,yes,3200,0\r\n";
const std::string kEventHeader =
    "event,start_ms,end_ms,start,end,snapshots,peak_pixels,peak_file,picture_file\r\n";

TEST(Recording, ListsTheSnapshotsAndEventsOfAVideoWithKnownMoments) {
    TempDir tmp;
    ASSERT_TRUE(
        testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments(), 25.0));
    const struct {
        const char* name;
        long long gapMs;
        int writers;
        std::string events;
    } rows[] = {
        {"the default gap joins all", 2000, 1,
         "1,200,3200,00:00:00.200,00:00:03.200,5,200,IMG00001240.jpg,IMG00001240.jpg\r\n"},
        {"one second splits off the last", 1000, 3,
         "1,200,1240,00:00:00.200,00:00:01.240,4,200,IMG00001240.jpg,IMG00001200.jpg\r\n"
         "2,3200,3200,00:00:03.200,00:00:03.200,1,100,IMG00003200.jpg,IMG00003200.jpg\r\n"},
        {"half a second splits three ways", 500, 2,
         "1,200,240,00:00:00.200,00:00:00.240,2,72,IMG00000240.jpg,IMG00000200.jpg\r\n"
         "2,1200,1240,00:00:01.200,00:00:01.240,2,200,IMG00001240.jpg,IMG00001200.jpg\r\n"
         "3,3200,3200,00:00:03.200,00:00:03.200,1,100,IMG00003200.jpg,IMG00003200.jpg\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        // A folder where one snapshot would go: a lost snapshot is listed too.
        std::filesystem::create_directories(dir + "/IMG00001200.jpg");
        testsupport::TestHost host;
        RunRecorder recorder({true, false, row.gapMs}, host);
        pelmora::RunRequest request{tmp.file("moments.avi"), dir, 20, row.writers};
        request.observer = &recorder;
        pelmora::FrameDetector detector;
        const pelmora::RunReport report = pelmora::runDetection(detector, request, host);
        EXPECT_EQ(report.snapshotsLost, 1);
        EXPECT_FALSE(recorder.failed());
        EXPECT_EQ(testsupport::fileBytes(dir + "/snapshots.csv"), kSnapshotList);
        EXPECT_EQ(testsupport::fileBytes(dir + "/events.csv"), kEventHeader + row.events);
        EXPECT_FALSE(std::filesystem::exists(dir + "/report.html"));
    }
}

TEST(Recording, AStoppedRunEndsItsListsWithItsLastRowsAndStillReports) {
    TempDir tmp;
    ASSERT_TRUE(
        testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments(), 25.0));
    testsupport::TestHost host(30);
    RunRecorder recorder({true, true, 2000}, host);
    pelmora::RunRequest request{tmp.file("moments.avi"), tmp.file("out"), 20};
    request.observer = &recorder;
    pelmora::FrameDetector detector;
    pelmora::runDetection(detector, request, host);
    EXPECT_EQ(testsupport::fileBytes(tmp.file("out/snapshots.csv")),
              "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms,start\r\n"
              "5,200,00:00:00.200,36,IMG00000200.jpg,yes,200,0\r\n"
              "6,240,00:00:00.240,72,IMG00000240.jpg,yes,240,0\r\n"
              "30,1200,00:00:01.200,136,IMG00001200.jpg,yes,1200,0\r\n");
    // The event still open is closed when the run stops.
    EXPECT_EQ(testsupport::fileBytes(tmp.file("out/events.csv")),
              kEventHeader +
                  "1,200,1200,00:00:00.200,00:00:01.200,3,136,IMG00001200.jpg,IMG00000240.jpg\r\n");
    EXPECT_NE(testsupport::fileBytes(tmp.file("out/report.html"))
                  .find("The run was stopped after 31 frames"),
              std::string::npos);
}

TEST(Recording, AStopWhileTheClipsAreCutLeavesNoHalfClipAndStopsTheRun) {
    TempDir tmp;
    ASSERT_TRUE(
        testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments(), 25.0));
    const struct {
        const char* name;
        bool stop;
        pelmora::RunReport::Status status;
        std::vector<std::string> clipFiles;
    } rows[] = {
        {"no stop", false, pelmora::RunReport::Status::Finished, {"EVENT0001.avi"}},
        {"a stop", true, pelmora::RunReport::Status::Stopped, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        testsupport::TestHost host;
        pelmora::RecordOptions options;
        options.events = true;
        options.clips = true;
        RunRecorder recorder(options, host);
        recorder.setStopCheck([&row] { return row.stop; });
        pelmora::RunRequest request{tmp.file("moments.avi"), dir, 20};
        request.observer = &recorder;
        pelmora::FrameDetector detector;
        pelmora::RunReport report = pelmora::runDetection(detector, request, host);
        recorder.settle(report);
        EXPECT_EQ(report.status, row.status);
        EXPECT_EQ(recorder.clipsLost(), row.stop ? 1 : 0);
        std::vector<std::string> clips;
        for (const std::string& name : testsupport::listDir(dir)) {
            if (name.find("EVENT") != std::string::npos) {
                clips.push_back(name);
            }
        }
        EXPECT_EQ(clips, row.clipFiles);
        const bool listed = testsupport::fileBytes(dir + "/events.csv").find(",EVENT0001.avi,") !=
                            std::string::npos;
        EXPECT_EQ(listed, !row.stop);
    }
}

TEST(Recording, NamesFollowTheChosenClockAndTheListGivesEachStreamTime) {
    TempDir tmp;
    // Six frames at a nominal 25 per second, shown at 0, 40, 300, 340, 1001 and 1500 ms: an
    // 8 x 8 square appears at frame 2 (36 pixels) and jumps at frame 4 (72).
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    const cv::Mat square = withRect(black, {8, 8, 8, 8}, kWhite);
    const cv::Mat moved = withRect(black, {40, 24, 8, 8}, kWhite);
    const std::string irregular =
        R"(-vf "settb=1/1000,setpts='if(eq(N,2),300,if(eq(N,3),340,if(eq(N,4),1001,)"
        R"(if(eq(N,5),1500,40*N))))'" -fps_mode passthrough -enc_time_base 1/1000 -c:v ffv1)";
    const std::string byStream =
        "2,300,00:00:00.300,36,IMG00000300.jpg,yes,300,0\r\n"
        "4,1001,00:00:01.001,72,IMG00001001.jpg,yes,1001,0\r\n";
    const struct {
        const char* name;
        const char* moreOptions;
        pelmora::RunClock clock;
        std::string list;
    } rows[] = {
        {"by index", "", pelmora::RunClock::Index,
         "2,80,00:00:00.080,36,IMG00000080.jpg,yes,300,0\r\n"
         "4,160,00:00:00.160,72,IMG00000160.jpg,yes,1001,0\r\n"},
        {"by stream", "", pelmora::RunClock::Stream, byStream},
        {"by stream from a start at 10 s", " -output_ts_offset 10", pelmora::RunClock::Stream,
         byStream},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string video = tmp.file(std::string(row.name) + ".mkv");
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video,
                                                      {black, black, square, square, moved, moved},
                                                      25.0, irregular + row.moreOptions));
        const std::string dir = tmp.file(row.name);
        testsupport::TestHost host;
        RunRecorder recorder({true, false, 2000}, host);
        pelmora::RunRequest request{video, dir, 20};
        request.observer = &recorder;
        request.clock = row.clock;
        pelmora::FrameDetector detector;
        pelmora::runDetection(detector, request, host);
        EXPECT_EQ(
            testsupport::fileBytes(dir + "/snapshots.csv"),
            "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms,start\r\n" + row.list);
    }
}

TEST(Recording, TheStartOfAVideoIsASnapshotButNoEventNorTheTopOfTheScale) {
    TempDir tmp;
    // Grey from the start, an 8 x 8 square at frame 5 (36 pixels) that jumps at frame 6 (72).
    const cv::Mat grey = solidFrame(kSize, cv::Scalar::all(100));
    const cv::Mat moved = withRect(grey, {40, 24, 8, 8}, kWhite);
    std::vector<cv::Mat> frames(5, grey);
    frames.push_back(withRect(grey, {8, 8, 8, 8}, kWhite));
    frames.push_back(moved);
    frames.push_back(moved);
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("grey.avi"), frames, 25.0));
    // Then one that starts where the first left off but for the square, somewhere else again.
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("next.avi"),
                                        {withRect(grey, {8, 30, 8, 8}, kWhite)}, 25.0));
    const std::string header =
        "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms,start\r\n";
    const struct {
        const char* video;
        std::string snapshots;
        std::string events;
    } runs[] = {
        {"grey.avi",
         header + "0,0,00:00:00.000,3072,IMG00000000.jpg,yes,0,1\r\n"
                  "5,200,00:00:00.200,36,IMG00000200.jpg,yes,200,0\r\n"
                  "6,240,00:00:00.240,72,IMG00000240.jpg,yes,240,0\r\n",
         kEventHeader +
             "1,200,240,00:00:00.200,00:00:00.240,2,72,IMG00000240.jpg,IMG00000200.jpg\r\n"},
        // The reference the first run left carries over, as in the window: no black start.
        {"next.avi", header + "0,0,00:00:00.000,72,IMG00000000.jpg,yes,0,0\r\n",
         kEventHeader + "1,0,0,00:00:00.000,00:00:00.000,1,72,IMG00000000.jpg,IMG00000000.jpg\r\n"},
    };
    pelmora::FrameDetector detector;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.video);
        const std::string dir = tmp.file(std::string(run.video) + ".out");
        testsupport::TestHost host;
        RunRecorder recorder({true, true, 2000}, host);
        pelmora::RunRequest request{tmp.file(run.video), dir, 20};
        request.observer = &recorder;
        pelmora::runDetection(detector, request, host);
        EXPECT_EQ(testsupport::fileBytes(dir + "/snapshots.csv"), run.snapshots);
        EXPECT_EQ(testsupport::fileBytes(dir + "/events.csv"), run.events);
    }
    // The scale ends at 100, above the square's 72, and the start is drawn at its top.
    const std::string page = testsupport::fileBytes(tmp.file("grey.avi.out/report.html"));
    EXPECT_NE(page.find(">100</text>"), std::string::npos);
    EXPECT_EQ(page.find(">1k</text>"), std::string::npos);
    EXPECT_NE(page.find("<polyline class=\"most\" points=\"46.0,12.0 "), std::string::npos);
}

// Frame 0 is grey (a snapshot against black); then an 8 x 8 square jumps about in the left
// half, a snapshot every frame.
std::vector<cv::Mat> squareInTheLeftHalf() {
    const cv::Mat grey = solidFrame(kSize, cv::Scalar::all(100));
    std::vector<cv::Mat> frames = {grey};
    for (const cv::Point corner : {cv::Point(4, 4), cv::Point(20, 4), cv::Point(4, 30),
                                   cv::Point(20, 30), cv::Point(4, 4)}) {
        frames.push_back(withRect(grey, cv::Rect(corner, cv::Size(8, 8)), kWhite));
    }
    return frames;
}

// On black, a 3 x 3 square (1 pixel survives erosion), then one of 5 x 5 beside it (9 more),
// then one of 6 x 6 (16 more): the count against a reference that stays grows 1, 10, 26.
std::vector<cv::Mat> growingSquares() {
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    std::vector<cv::Mat> frames = {black, withRect(black, {4, 4, 3, 3}, kWhite)};
    frames.push_back(withRect(frames.back(), {20, 4, 5, 5}, kWhite));
    frames.push_back(withRect(frames.back(), {40, 20, 6, 6}, kWhite));
    return frames;
}

cv::Mat halves(cv::Size size, bool leftWatched) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar::all(leftWatched ? 0 : 255));
    mask(cv::Rect(0, 0, size.width / 2, size.height)).setTo(leftWatched ? 255 : 0);
    return mask;
}

TEST(Recording, TheWatchedRegionAndTheMinimumDecideWhatIsSaved) {
    TempDir tmp;
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("left.avi"), squareInTheLeftHalf(), 25.0));
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("grow.avi"), growingSquares(), 25.0));
    const std::vector<std::string> everyLeftFrame = {"IMG00000000.jpg", "IMG00000040.jpg",
                                                     "IMG00000080.jpg", "IMG00000120.jpg",
                                                     "IMG00000160.jpg", "IMG00000200.jpg"};
    const std::string scaled =
        "Scaling the mask " + tmp.file("mask.png") + " from 128x96 to the video's 64x48\n";
    const struct {
        const char* name;
        const char* video;
        cv::Mat mask;  // none when empty
        int minPixels;
        std::vector<std::string> names;
        std::string lines;  // besides the saved snapshots
    } rows[] = {
        {"no mask", "left.avi", cv::Mat(), 10, everyLeftFrame, ""},
        {"hiding the moving region", "left.avi", halves(kSize, false), 10, {"IMG00000000.jpg"}, ""},
        {"hiding everything else", "left.avi", halves(kSize, true), 10, everyLeftFrame, ""},
        {"of twice the size", "left.avi", halves(kSize * 2, true), 10, everyLeftFrame, scaled},
        {"a single pixel is enough at 0",
         "grow.avi",
         cv::Mat(),
         0,
         {"IMG00000040.jpg", "IMG00000080.jpg", "IMG00000120.jpg"},
         ""},
        {"at 9, ten are enough",
         "grow.avi",
         cv::Mat(),
         9,
         {"IMG00000080.jpg", "IMG00000120.jpg"},
         ""},
        {"the default", "grow.avi", cv::Mat(), 10, {"IMG00000120.jpg"}, ""},
        {"more than there are", "grow.avi", cv::Mat(), 1000, {}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        pelmora::RunRequest request{tmp.file(row.video), dir, 20};
        request.minPixels = row.minPixels;
        if (!row.mask.empty()) {
            ASSERT_TRUE(cv::imwrite(tmp.file("mask.png"), row.mask));
            ASSERT_EQ(pelmora::WatchedRegion::load(tmp.file("mask.png"), request.watched), "");
        }
        testsupport::TestHost host;
        pelmora::FrameDetector detector;
        pelmora::runDetection(detector, request, host);
        std::string lines = row.lines;
        for (const std::string& name : row.names) {
            lines += "[" + dir + "/" + name + "]\n";
        }
        EXPECT_EQ(host.text(), lines);
        EXPECT_EQ(testsupport::listDir(dir), row.names);
    }
}

}  // namespace

namespace {

// A start given for the video: each row of both lists ends with its clock time, and the
// contact sheet holds a cell for each event under a heading.
TEST(Recording, AKnownStartAddsClockTimesAndTheContactSheetShowsEachEvent) {
    TempDir tmp;
    ASSERT_TRUE(
        testsupport::writeVideo(tmp.file("moments.avi"), testsupport::knownMoments(), 25.0));
    testsupport::TestHost host;
    pelmora::RecordOptions options;
    options.events = true;
    options.eventGapMs = 1000;
    options.contactSheet = true;
    RunRecorder recorder(options, host);
    pelmora::RunRequest request{tmp.file("moments.avi"), tmp.file("out"), 20};
    request.start.given = pelmora::parseIsoTime("2024-05-01T23:59:59.500+02:00");
    request.start.zone = pelmora::TimeZone::fixed(2 * 3600);
    request.observer = &recorder;
    pelmora::FrameDetector detector;
    const pelmora::RunReport report = pelmora::runDetection(detector, request, host);
    ASSERT_EQ(report.start.source, pelmora::StartSource::Given);
    ASSERT_FALSE(recorder.failed()) << host.text();

    // Three seconds in, the day has turned.
    EXPECT_EQ(testsupport::fileBytes(tmp.file("out/events.csv")),
              kEventHeader.substr(0, kEventHeader.size() - 2) +
                  ",clock_time\r\n"
                  "1,200,1240,00:00:00.200,00:00:01.240,4,200,IMG00001240.jpg,IMG00001200.jpg,"
                  "2024-05-01T23:59:59.700+02:00\r\n"
                  "2,3200,3200,00:00:03.200,00:00:03.200,1,100,IMG00003200.jpg,IMG00003200.jpg,"
                  "2024-05-02T00:00:02.700+02:00\r\n");
    const std::string snapshots = testsupport::fileBytes(tmp.file("out/snapshots.csv"));
    EXPECT_EQ(snapshots.substr(0, snapshots.find('\n') + 1),
              "frame,time_ms,timecode,changed_pixels,file,saved,stream_ms,start,clock_time\r\n");
    EXPECT_NE(snapshots.find("80,3200,00:00:03.200,100,IMG00003200.jpg,yes,3200,0,"
                             "2024-05-02T00:00:02.700+02:00\r\n"),
              std::string::npos);

    // A heading, and a row of four cells with two taken by the events. snapshots, grown to the
    // cell's width, with the grey of an empty cell nowhere in the first.
    const cv::Mat sheet = cv::imread(tmp.file("out/contact.jpg"));
    ASSERT_FALSE(sheet.empty());
    EXPECT_EQ(sheet.cols,
              pelmora::kContactSheetColumns * (pelmora::kContactSheetCellWidth + 8) + 8);
    const cv::Mat firstCell = sheet(cv::Rect(8, 40, pelmora::kContactSheetCellWidth, 240));
    EXPECT_LT(cv::mean(firstCell)[0], 128.0);  // the snapshot, mostly dark
    const cv::Mat thirdCell = sheet(cv::Rect(8 + 2 * (pelmora::kContactSheetCellWidth + 8), 40,
                                             pelmora::kContactSheetCellWidth, 240));
    EXPECT_NEAR(cv::mean(thirdCell)[0], 255.0, 1.0);  // no third event: left white
}

}  // namespace
