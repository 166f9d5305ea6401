#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameDetector.h"
#include "RunRecorder.h"
#include "StatusLine.h"
#include "TestSupport.h"

namespace {

using pelmora::FrameDetector;
using pelmora::RunReport;
using pelmora::RunRequest;
using testsupport::savedLines;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

const cv::Size kSize(64, 48);

// Black, a white square, then black again: three snapshots against black.
std::vector<cv::Mat> blinkingSquare() {
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    return {black + cv::Scalar::all(100), withRect(black, {20, 10, 12, 12}, cv::Scalar::all(255)),
            black + cv::Scalar::all(100)};
}

TEST(DetectionRun, RunsAVideoIntoItsDerivedDirectory) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), "", 20}, host);
    const std::string dir = tmp.file("garden");
    const std::vector<std::string> names = {"IMG00000000.jpg", "IMG00000040.jpg",
                                            "IMG00000080.jpg"};
    EXPECT_EQ(err.finish(), savedLines(dir, names));
    EXPECT_EQ(report.status, RunReport::Status::Finished);
    EXPECT_EQ(report.outputDir, dir);
    EXPECT_EQ(report.framesRead, 3);
    EXPECT_EQ(report.snapshotsWritten, 3);
    EXPECT_EQ(report.snapshotsLost, 0);
    EXPECT_EQ(host.percents, (std::vector<int>{33, 66, 100, 100}));
    EXPECT_EQ(testsupport::listDir(dir), names);
}

// H.264 copied from MP4 into AVI: the AVI's header counts each of its 50 pictures twice, and
// its duration tells the truth.
TEST(DetectionRun, ProgressFollowsTheFramesThereWhenTheFileAnnouncesTwiceAsMany) {
    TempDir tmp;
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(
        tmp.file("pictures.mp4"), std::vector<cv::Mat>(50, solidFrame(kSize, cv::Scalar::all(0))),
        25.0, "-c:v libx264 -bf 0 -pix_fmt yuv420p"));
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -i '" + tmp.file("pictures.mp4") +
                           "' -c copy '" + tmp.file("doubled.avi") + "'")
                              .c_str()),
              0);
    FrameDetector detector;
    testsupport::TestHost host;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("doubled.avi"), "", 20}, host);
    ASSERT_EQ(report.framesRead, 50);
    ASSERT_EQ(report.framesAnnounced, 100);
    // Two frames a percent up to 98 at the last but one, then the end.
    ASSERT_EQ(host.percents.size(), 51u);
    EXPECT_EQ(host.percents[0], 2);
    EXPECT_EQ(host.percents[48], 98);
    EXPECT_EQ(host.percents[49], 100);
    EXPECT_EQ(host.percents[50], 100);
}

TEST(DetectionRun, ASecondRunStartsFromTheReferenceTheFirstLeft) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    testsupport::TestHost first(-1, true);
    testsupport::StderrCapture err;
    pelmora::runDetection(detector, {tmp.file("garden.avi"), tmp.path(), 20}, first);
    err.finish();
    TempDir again;
    testsupport::TestHost second(-1, true);
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), again.path(), 20}, second);
    // The first frame equals the last snapshot of the first run, so it is no motion.
    EXPECT_EQ(testsupport::listDir(again.path()),
              (std::vector<std::string>{"IMG00000040.jpg", "IMG00000080.jpg"}));
    EXPECT_EQ(report.snapshotsWritten, 2);
}

TEST(DetectionRun, ReportsAVideoThatDoesNotOpenAndCreatesNothing) {
    TempDir tmp;
    const std::string video = tmp.file("missing.avi");
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    const RunReport report = pelmora::runDetection(detector, {video, "", 20}, host);
    EXPECT_EQ(err.finish(), "Failed to open " + video + ": No such file or directory\n");
    EXPECT_EQ(report.status, RunReport::Status::OpenFailed);
    EXPECT_TRUE(host.percents.empty());
    EXPECT_TRUE(testsupport::listDir(tmp.path()).empty());
}

TEST(DetectionRun, StopsAfterTheFrameInWhichTheHostAsked) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    FrameDetector detector;
    testsupport::TestHost host(1, true);
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), tmp.path(), 20}, host);
    err.finish();
    EXPECT_EQ(report.status, RunReport::Status::Stopped);
    EXPECT_EQ(report.framesRead, 2);
    // The stopping frame keeps its snapshot but gets no progress of its own.
    EXPECT_EQ(host.percents, (std::vector<int>{33, 100}));
    EXPECT_EQ(testsupport::listDir(tmp.path()),
              (std::vector<std::string>{"IMG00000000.jpg", "IMG00000040.jpg", "garden.avi"}));
}

TEST(DetectionRun, CountsTheSnapshotsItCouldNotWriteAndSaysWhy) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    const std::string dir = tmp.file("shots");
    // Folders stand where the first and last snapshot would go.
    std::filesystem::create_directories(dir + "/IMG00000000.jpg");
    std::filesystem::create_directories(dir + "/IMG00000080.jpg");
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    const RunReport report =
        pelmora::runDetection(detector, {tmp.file("garden.avi"), dir, 20}, host);
    EXPECT_EQ(err.finish(), "Failed to save " + dir + "/IMG00000000.jpg: Is a directory\n[" + dir +
                                "/IMG00000040.jpg]\nFailed to save " + dir +
                                "/IMG00000080.jpg: Is a directory\n");
    EXPECT_EQ(report.snapshotsWritten, 1);
    EXPECT_EQ(report.snapshotsLost, 2);
    // A failed write leaves no temporary file behind.
    EXPECT_EQ(testsupport::listDir(dir),
              (std::vector<std::string>{"IMG00000000.jpg", "IMG00000040.jpg", "IMG00000080.jpg"}));
}

// The frame loop draws the yellow status line on what it saves, never on the reference; and a
// snapshot it could not write moves the reference all the same, so that one lost write does not
// make every later frame a snapshot against a stale reference.
TEST(DetectionRun, SavesTheStatusLineAndKeepsTheReferenceCleanWrittenOrNot) {
    TempDir tmp;
    const cv::Mat square = withRect(solidFrame(cv::Size(240, 60), cv::Scalar::all(0)),
                                    {100, 35, 20, 20}, cv::Scalar::all(255));
    testsupport::writeVideo(tmp.file("square.avi"), {square, square, square}, 25.0);
    const cv::Rect textArea(20, 8, 180, 13);
    for (const bool lost : {false, true}) {
        const std::string dir = tmp.file(lost ? "lost" : "saved");
        if (lost) {
            std::filesystem::create_directories(dir + "/IMG00000000.jpg");
        }
        FrameDetector detector;
        testsupport::TestHost host(-1, true);
        testsupport::StderrCapture err;
        const RunReport report =
            pelmora::runDetection(detector, {tmp.file("square.avi"), dir, 20}, host);
        err.finish();
        EXPECT_EQ(report.snapshotsWritten + report.snapshotsLost, 1) << lost;
        EXPECT_EQ(cv::countNonZero(detector.reference()(textArea).reshape(1)), 0) << lost;
        EXPECT_EQ(cv::norm(detector.reference(), square, cv::NORM_INF), 0.0) << lost;
        if (lost) {
            continue;
        }
        const cv::Mat saved = cv::imread(dir + "/IMG00000000.jpg");
        ASSERT_FALSE(saved.empty());
        int yellow = 0;
        for (int y = textArea.y; y < textArea.br().y; ++y) {
            for (int x = textArea.x; x < textArea.br().x; ++x) {
                const cv::Vec3b p = saved.at<cv::Vec3b>(y, x);
                // Chroma subsampling softens thin strokes: bright, and clearly more red and
                // green than blue.
                yellow += p[1] > 80 && p[2] > 80 && p[0] + 40 < std::min(p[1], p[2]);
            }
        }
        EXPECT_GT(yellow, 150);
    }
}

// A missing destination is made with its parents; one that cannot be made is refused before
// anything is decoded.
TEST(DetectionRun, PreparesTheDestinationBeforeDecoding) {
    TempDir tmp;
    testsupport::writeVideo(tmp.file("garden.avi"), blinkingSquare(), 25.0);
    std::ofstream(tmp.file("file")) << "in the way";
    const struct {
        const char* name;
        std::string dir;
        std::string error;  // empty: the run goes ahead
    } rows[] = {
        {"missing, with its parents", tmp.file("new/deeper/shots"), ""},
        {"below a file", tmp.file("file/shots"), "Not a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FrameDetector detector;
        testsupport::TestHost host(-1, true);
        testsupport::StderrCapture err;
        const RunReport report =
            pelmora::runDetection(detector, {tmp.file("garden.avi"), row.dir, 20}, host);
        const std::string printed = err.finish();
        if (row.error.empty()) {
            EXPECT_EQ(report.snapshotsWritten, 3);
            EXPECT_EQ(testsupport::listDir(row.dir).size(), 3u);
        } else {
            EXPECT_EQ(printed, "Cannot save snapshots in " + row.dir + ": " + row.error + "\n");
            EXPECT_EQ(report.status, RunReport::Status::OutputUnusable);
            EXPECT_EQ(report.outputError, row.error);
            EXPECT_EQ(report.framesRead, 0);
            EXPECT_TRUE(host.percents.empty());
        }
    }
}

TEST(DetectionRun, NamesFramesOfAFractionalRate) {
    TempDir tmp;
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 5; ++i) {
        frames.push_back(withRect(black, {4 + 10 * i, 10, 8, 8}, cv::Scalar::all(255)));
    }
    testsupport::writeVideo(tmp.file("clip.avi"), frames, 30000.0 / 1001.0);
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    pelmora::runDetection(detector, {tmp.file("clip.avi"), "", 20}, host);
    err.finish();
    EXPECT_EQ(testsupport::listDir(tmp.file("clip")),
              (std::vector<std::string>{"IMG00000000.jpg", "IMG00000033.jpg", "IMG00000067.jpg",
                                        "IMG00000100.jpg", "IMG00000133.jpg"}));
}

TEST(DetectionRun, NamesOfAVideoPast27HoursHaveOneDigitMoreAndStayInTheirOrder) {
    TempDir tmp;
    const cv::Mat black = solidFrame(kSize, cv::Scalar::all(0));
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(withRect(black, {4 + 10 * i, 10, 8, 8}, cv::Scalar::all(255)));
    }
    // A frame every 50,000 s: the last at 100,000,000 ms, of a video 150,000 s long.
    ASSERT_TRUE(
        testsupport::writeVideoWithFfmpeg(tmp.file("slow.avi"), frames, 1.0 / 50000, "-c:v ffv1"));
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    pelmora::runDetection(detector, {tmp.file("slow.avi"), "", 20}, host);
    err.finish();
    EXPECT_EQ(
        testsupport::listDir(tmp.file("slow")),
        (std::vector<std::string>{"IMG000000000.jpg", "IMG050000000.jpg", "IMG100000000.jpg"}));
}

}  // namespace

namespace {

// A textured scene with faint noise in every frame and a blob that jumps every third frame:
// frames 0, 3, 6, ... are snapshots, the others not, and the encoder has real texture.
std::vector<cv::Mat> busyScene(int frames) {
    cv::RNG rng(7);
    cv::Mat scene(cv::Size(96, 72), CV_8UC3);
    rng.fill(scene, cv::RNG::UNIFORM, 40, 200);
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        cv::Mat noise(scene.size(), CV_8UC3);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 8);
        cv::Mat frame = scene + noise;
        const int jump = i / 3;
        cv::circle(frame, {8 + (jump * 23) % 80, 20 + (jump * 11) % 40}, 6 + jump % 4,
                   cv::Scalar(255, 128 + jump, 30), cv::FILLED);
        video.push_back(frame);
    }
    return video;
}

// The run as a plain loop of the imaging library's calls, one step after another, writing
// each snapshot with imwrite: what the run must reproduce file for file and byte for byte.
std::vector<std::string> plainLoop(const std::string& video, const std::string& dir,
                                   int threshold) {
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    const double fps = capture.get(cv::CAP_PROP_FPS);
    std::vector<std::string> lines;
    cv::Mat frame;
    cv::Mat reference;
    cv::Mat current;
    cv::Mat mask;
    for (long long index = 0; capture.read(frame); ++index) {
        if (reference.empty()) {
            reference = cv::Mat::zeros(frame.size(), CV_8UC3);
        }
        frame.copyTo(current);
        cv::absdiff(current, reference, mask);
        cv::threshold(mask, mask, threshold, 255.0, cv::THRESH_BINARY);
        cv::erode(mask, mask, cv::Mat());
        const cv::Scalar sums = cv::sum(mask);
        const double busiest = std::max({sums[0], sums[1], sums[2]});
        const auto time = pelmora::FrameTime::fromRate(index, fps);
        cv::putText(frame,
                    pelmora::statusLine(time.seconds, static_cast<int>(busiest / 255.0), threshold),
                    {20, 20}, cv::FONT_HERSHEY_PLAIN, 1.0, {0, 255, 255, 0}, 1, cv::LINE_8);
        if (busiest > 2550.0) {
            const std::string path =
                pelmora::joinPath(dir, pelmora::snapshotFileName(time.snapshotMs));
            cv::imwrite(path, frame);
            lines.push_back("[" + path + "]\n");
            current.copyTo(reference);
        }
    }
    return lines;
}

TEST(DetectionRun, WritesTheSameFilesAndLinesAsAPlainLoopWithAnyNumberOfWriters) {
    TempDir tmp;
    const std::string video = tmp.file("busy.avi");
    testsupport::writeVideo(video, busyScene(60), 25.0);
    const std::string expectedDir = tmp.file("expected");
    std::filesystem::create_directory(expectedDir);
    const std::vector<std::string> expectedLines = plainLoop(video, expectedDir, 20);
    const std::vector<std::string> expectedFiles = testsupport::listDir(expectedDir);
    ASSERT_EQ(expectedFiles.size(), 20u);

    for (const int writers : {1, 2, 5}) {
        const std::string dir = tmp.file("writers" + std::to_string(writers));
        std::filesystem::create_directory(dir);
        FrameDetector detector;
        testsupport::TestHost host;
        const RunReport report = pelmora::runDetection(detector, {video, dir, 20, writers}, host);
        std::vector<std::string> lines = expectedLines;
        for (std::string& line : lines) {
            line.replace(1, expectedDir.size(), dir);
        }
        EXPECT_EQ(host.lines, lines) << writers << " writers";
        EXPECT_EQ(report.snapshotsWritten, static_cast<long long>(expectedFiles.size()));
        ASSERT_EQ(testsupport::listDir(dir), expectedFiles) << writers << " writers";
        for (const std::string& name : expectedFiles) {
            EXPECT_EQ(testsupport::fileBytes(dir + "/" + name),
                      testsupport::fileBytes(expectedDir + "/" + name))
                << name << ", " << writers << " writers";
        }
    }
}

// A still, noisy scene with a square that blinks and a faint patch that comes and goes, its
// changes close to the thresholds, in the formats whose pictures are compared
// row by row before they are converted, and in one that is converted whole: the same files and
// lines as the plain loop.
TEST(DetectionRun, ComparingPicturesRowByRowChangesNoFileOrLine) {
    TempDir tmp;
    for (const testsupport::ClipEncoding& clip :
         testsupport::clipEncodings({"mpeg4", "h264Cropped", "h264Planar422", "mjpegFullRange420",
                                     "mjpegFullRange422", "ffv1Planar444"})) {
        const std::string video = tmp.file(clip.file);
        const std::string command =
            "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
            "'color=c=0x607080:s=96x40:r=25:d=2,noise=alls=2:allf=t,"
            "drawbox=x=20:y=8:w=16:h=16:c=white:t=fill:enable=lt(mod(n\\,12)\\,3),"
            "drawbox=x=50:y=12:w=30:h=20:c=0x708090:t=fill:enable=gt(mod(n\\,12)\\,6)' " +
            std::string(clip.options) + " '" + video + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        for (const int threshold : {12, 30}) {
            const std::string name = std::string(clip.name) + "/" + std::to_string(threshold);
            const std::string expectedDir = tmp.file(name + "-expected");
            const std::string dir = tmp.file(name);
            std::filesystem::create_directories(expectedDir);
            std::filesystem::create_directories(dir);
            std::vector<std::string> lines = plainLoop(video, expectedDir, threshold);
            FrameDetector detector;
            testsupport::TestHost host;
            pelmora::runDetection(detector, {video, dir, threshold}, host);
            for (std::string& line : lines) {
                line.replace(1, expectedDir.size(), dir);
            }
            EXPECT_EQ(host.lines, lines) << name;
            const std::vector<std::string> files = testsupport::listDir(expectedDir);
            EXPECT_GT(files.size(), 4u) << name;
            ASSERT_EQ(testsupport::listDir(dir), files) << name;
            for (const std::string& file : files) {
                EXPECT_EQ(testsupport::fileBytes(dir + "/" + file),
                          testsupport::fileBytes(expectedDir + "/" + file))
                    << name << " " << file;
            }
        }
    }
}

TEST(DetectionRun, AStopLeavesOnlyLoggedAndCompleteSnapshots) {
    TempDir tmp;
    const std::string video = tmp.file("busy.avi");
    testsupport::writeVideo(video, busyScene(60), 25.0);
    for (const int writers : {1, 3}) {
        TempDir out;
        FrameDetector detector;
        testsupport::TestHost host(30);
        const RunReport report =
            pelmora::runDetection(detector, {video, out.path(), 20, writers}, host);
        EXPECT_EQ(report.status, RunReport::Status::Stopped);
        EXPECT_EQ(report.framesRead, 31);
        std::vector<std::string> logged;
        for (const std::string& line : host.lines) {
            logged.push_back(
                line.substr(out.path().size() + 2, line.size() - out.path().size() - 4));
        }
        // Frames 0 to 30 are done, and frame 30 is a snapshot.
        EXPECT_EQ(logged.size(), 11u) << writers << " writers";
        EXPECT_EQ(logged.back(), pelmora::snapshotFileName(1200)) << writers << " writers";
        EXPECT_EQ(testsupport::listDir(out.path()), logged) << writers << " writers";
        for (const std::string& name : logged) {
            EXPECT_FALSE(cv::imread(out.file(name)).empty()) << name;
        }
    }
}

TEST(DetectionRun, SaysWhenTheFrameSizeChangesAndComparesTheNewFramesWithBlack) {
    TempDir tmp;
    // A transport stream may change its picture size; two streams joined end to end do.
    for (const char* size : {"64x48", "32x24"}) {
        const std::string command = std::string(
                                        "ffmpeg -nostdin -loglevel error -f lavfi -i "
                                        "color=c=gray:s=") +
                                    size + ":r=25 -frames:v 4 -c:v mpeg2video -q:v 2 '" +
                                    tmp.file(std::string(size) + ".ts") + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    ASSERT_EQ(std::system(("cat '" + tmp.file("64x48.ts") + "' '" + tmp.file("32x24.ts") + "' > '" +
                           tmp.file("joined.ts") + "'")
                              .c_str()),
              0);
    FrameDetector detector;
    testsupport::TestHost host(-1, true);
    testsupport::StderrCapture err;
    pelmora::RunRecorder recorder({true, false, 2000}, host);
    RunRequest request{tmp.file("joined.ts"), tmp.file("out"), 20};
    request.observer = &recorder;
    const RunReport report = pelmora::runDetection(detector, request, host);
    const std::string lines = err.finish();
    EXPECT_EQ(report.status, RunReport::Status::Finished);
    EXPECT_NE(lines.find("Frame size of " + tmp.file("joined.ts") + " changes to 32x24 at frame "),
              std::string::npos)
        << lines;
    // The first grey frame of each size differs from black; the rest are still.
    EXPECT_EQ(report.snapshotsWritten, 2) << lines;
    EXPECT_EQ(detector.reference().size(), cv::Size(32, 24));
    // Both are starts against black, and no event.
    const std::string list = testsupport::fileBytes(tmp.file("out/snapshots.csv"));
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 3) << list;
    EXPECT_EQ(list.find(",0\r\n"), std::string::npos) << list;
    EXPECT_EQ(testsupport::fileBytes(tmp.file("out/events.csv")),
              "event,start_ms,end_ms,start,end,snapshots,peak_pixels,peak_file,picture_file\r\n");
}

}  // namespace
