// Joins of stretches by the real pelmora-scan, on small videos made here: a join leaves one
// run's files, or refuses with the folder as it was, and one stopped anywhere is finished by the
// next.

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "ScanChecks.h"
#include "ScanProcess.h"
#include "TestSupport.h"
#include "TextPattern.h"

namespace {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanProcess;
using clitest::ScanResult;
using clitest::ScanTest;
using testsupport::folderBytes;
using testsupport::TempDir;

const cv::Size kSize(64, 48);

// What differs between the folder one run left and another: files missing, different or too
// many; empty when they match.
std::string differences(const std::string& one, const std::string& other) {
    const auto expected = folderBytes(one);
    const auto got = folderBytes(other);
    std::string text;
    for (const auto& [name, bytes] : expected) {
        const auto found = got.find(name);
        text += found == got.end()       ? name + " missing; "
                : found->second != bytes ? name + " differs; "
                                         : "";
    }
    for (const auto& entry : got) {
        if (expected.count(entry.first) == 0) {
            text += entry.first + " too many; ";
        }
    }
    return text;
}

// Grey, with a red square from frame from to frame to, as H.264 in MP4 with a keyframe every
// 25 frames, so that stretches start between keyframes.
std::string squareVideo(const TempDir& tmp, const std::string& name, int frames, int from, int to) {
    const cv::Mat grey = testsupport::solidFrame(kSize, cv::Scalar::all(128));
    std::vector<cv::Mat> pictures;
    for (int i = 0; i < frames; ++i) {
        pictures.push_back(i >= from && i <= to ? testsupport::withRect(grey, {20, 16, 12, 12},
                                                                        cv::Scalar(0, 0, 255))
                                                : grey);
    }
    const std::string path = tmp.file(name);
    EXPECT_TRUE(testsupport::writeVideoWithFfmpeg(path, pictures, 25.0,
                                                  "-c:v libx264 -g 25 -pix_fmt yuv420p -f mp4"));
    return path;
}

// Scans the count stretches of video into dir, each with these options.
void scanStretches(const std::string& video, const std::string& dir, int count,
                   const std::vector<std::string>& options) {
    for (int index = 0; index < count; ++index) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(),
                         {"-q", "--segment", std::to_string(index) + "/" + std::to_string(count),
                          "-o", dir, video});
        const ScanResult result = runScan(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
}

void scanOnce(const std::string& video, const std::string& dir,
              const std::vector<std::string>& options) {
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"-q", "-o", dir, video});
    const ScanResult result = runScan(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
}

ScanResult join(const std::string& dir, const std::vector<std::string>& options) {
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"-q", "--join", dir});
    return runScan(arguments);
}

// Each occurrence of DIR in text as dir.
std::string naming(const std::string& text, const std::string& dir) {
    std::string named = text;
    for (std::string::size_type at = named.find("DIR"); at != std::string::npos;
         at = named.find("DIR", at + dir.size())) {
        named.replace(at, 3, dir);
    }
    return named;
}

const std::vector<std::string> kEvents = {"--events"};

TEST(Join, SnapshotsAtAStretchsEndJoinAsOneRun) {
    const struct {
        const char* name;
        int from;  // the frames of the square, of 60; three stretches of 20
        int to;
    } rows[] = {
        {"on a middle stretch's last frame", 39, 50},
        {"on a middle stretch's second-to-last frame", 38, 50},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir tmp;
        const std::string video = squareVideo(tmp, "square.mp4", 60, row.from, row.to);
        scanOnce(video, tmp.file("one"), kEvents);
        const std::string joined = tmp.file("joined");
        scanStretches(video, joined, 3, kEvents);
        const ScanResult result = join(joined, kEvents);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.err.find("Joined 3 stretches of " + video), std::string::npos)
            << result.err;
        EXPECT_EQ(differences(tmp.file("one"), joined), "");
    }
}

TEST(Join, StretchFilesChangedSinceOrInTheWayAreRefusedWithTheFolderAsItWas) {
    TempDir tmp;
    // The second stretch, frames 20 to 39, takes 20 against black and 39 as the square comes.
    const std::string video = squareVideo(tmp, "square.mp4", 60, 39, 50);
    const std::string pristine = tmp.file("pristine");
    scanStretches(video, pristine, 3, kEvents);
    const std::string record = "/.pelmora-segment-1-of-3/.pelmora-segment";
    const std::string frames = "/.pelmora-segment-1-of-3/.pelmora-segment-frames";
    const std::string reference = "/.pelmora-segment-1-of-3/.pelmora-segment-reference.ppm";
    const std::string snapshot = "/.pelmora-segment-1-of-3/IMG00001560.jpg";
    const auto editRecord = [record](const std::string& dir,
                                     const std::function<std::string(const std::string&)>& edit) {
        std::ifstream in(dir + record);
        std::string text;
        for (std::string line; std::getline(in, line);) {
            text += edit(line + "\n");
        }
        testsupport::writeFile(dir + record, text);
    };
    const auto flipByte = [](const std::string& path, std::size_t at) {
        std::string bytes = testsupport::fileBytes(path);
        bytes.at(at) = static_cast<char>(bytes.at(at) ^ 1);
        testsupport::writeFile(path, bytes);
    };
    const std::string changed =
        " does not match its checksum: it was changed after its stretch was scanned";
    const struct {
        const char* name;
        std::function<void(const std::string& dir)> change;
        std::string message;  // after "cannot join DIR: "
    } rows[] = {
        {"a snapshot's line deleted from a record",
         [&](const std::string& dir) {
             editRecord(dir, [](const std::string& line) {
                 return line.rfind("snapshot 39 ", 0) == 0 ? std::string() : line;
             });
         },
         "stretch 1/3 cannot be joined: DIR" + record + changed},
        {"a snapshot's pixel count changed in a record",
         [&](const std::string& dir) {
             editRecord(dir, [](const std::string& line) {
                 return pelmora::TextPattern("^snapshot 39 1560 \\d+ ")
                     .replaced(line, "snapshot 39 1560 1 ");
             });
         },
         "stretch 1/3 cannot be joined: DIR" + record + changed},
        {"a record cut short before its end line",
         [&](const std::string& dir) {
             editRecord(dir, [](const std::string& line) {
                 return line == "end\n" ? std::string() : line;
             });
         },
         "stretch 1/3 cannot be joined: DIR" + record + " ends early"},
        // The changed pixels of the stretch's first frame.
        {"a frame's measure changed", [&](const std::string& dir) { flipByte(dir + frames, 8); },
         "stretch 1/3 cannot be joined: DIR" + frames + changed},
        {"the measures cut short",
         [&](const std::string& dir) {
             fs::resize_file(dir + frames, fs::file_size(dir + frames) - 13);
         },
         "stretch 1/3 cannot be joined: DIR" + frames + changed},
        {"a snapshot replaced by another",
         [&](const std::string& dir) {
             fs::copy_file(dir + "/.pelmora-segment-0-of-3/IMG00000000.jpg", dir + snapshot,
                           fs::copy_options::overwrite_existing);
         },
         "stretch 1/3 cannot be joined: DIR" + snapshot + changed},
        {"flipped bytes in a reference",
         [&](const std::string& dir) { flipByte(dir + reference, 100); },
         "stretch 1/3 cannot be joined: DIR" + reference + changed},
        // Found only once every file is made, when they go into the folder.
        {"a folder in the way of a list",
         [](const std::string& dir) {
             fs::create_directories(dir + "/events.csv");
             testsupport::writeFile(dir + "/events.csv/kept", "kept");
         },
         "cannot move DIR/.pelmora-join/events.csv to DIR/events.csv: Is a directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = tmp.file(row.name);
        fs::copy(pristine, dir, fs::copy_options::recursive);
        row.change(dir);
        const auto before = folderBytes(dir);
        const ScanResult result = join(dir, kEvents);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.err,
                  "pelmora-scan: cannot join " + dir + ": " + naming(row.message, dir) + "\n");
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(folderBytes(dir) == before) << "the folder changed";
    }
}

// Makes a folder inside dir whose path is so long that a line naming a file in it takes more
// than a third of what a pipe holds (4096 bytes), so that a process writing such lines waits
// on the pipe within two of them.
std::string longFolder(const std::string& dir) {
    std::string path = dir;
    for (int depth = 0; depth < 8; ++depth) {
        path += "/" + std::string(200, 'd');
    }
    fs::create_directories(path);
    return path;
}

// A join stopped while it cuts a clip, or killed while it writes its report, leaves the
// stretches as they were; the next join leaves one run's files, and the one after says that the
// folder is joined already.
TEST(Join, AJoinStoppedPartWayIsFinishedByTheNextAndThenSaysSo) {
    TempDir tmp;
    // Noise that changes at every frame: one event, one clip, and every stretch scanned again
    // meets its own run at its first frame, which the join says in one line.
    std::vector<cv::Mat> noise(70);
    cv::RNG rng(7);
    for (cv::Mat& frame : noise) {
        frame.create(kSize, CV_8UC3);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    }
    const std::string video = tmp.file("noise.avi");
    ASSERT_TRUE(testsupport::writeVideo(video, noise));
    const std::vector<std::string> options = {"--clips", "--events", "--report"};
    scanOnce(video, tmp.file("one"), options);
    const struct {
        const char* name;
        std::string held;  // the file in the staging folder whose write a pipe holds back
        int signal;
        bool foundAsItWas;  // else the stretches are, beside what the join was making
    } rows[] = {
        {"SIGTERM while a clip is cut", ".EVENT0001.avi", SIGTERM, true},
        {"SIGKILL while the report is written", ".report.html", SIGKILL, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string dir = longFolder(tmp.file(row.name));
        scanStretches(video, dir, 7, options);
        const auto stretches = folderBytes(dir);
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"--join", dir});
        ScanProcess scan(arguments);
        // Each stretch scanned again says its first snapshot, in a line that fills a third of
        // the error stream's pipe: once one is read, the join waits on the pipe long before
        // the last stretch, its staging folder there and the held file not yet opened.
        ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/IMG"));
        const std::string pipe =
            dir + "/.pelmora-join/" + row.held + "." + std::to_string(scan.id()) + ".part";
        ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
        // Opened for both ends, which never waits, and shrunk to the least a pipe holds, which
        // the file outgrows: the join's write into it waits once the first part is there.
        const int both = ::open(pipe.c_str(), O_RDWR);
        ASSERT_GE(both, 0) << std::strerror(errno);
        ASSERT_EQ(::fcntl(both, F_SETPIPE_SZ, 4096), 4096) << std::strerror(errno);
        // The last stretch starts at frame 60, at 2.4 s; the lists are said before the report.
        ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/IMG00002400.jpg]"));
        if (row.held == ".report.html") {
            ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/events.csv]"));
        }
        pollfd written{both, POLLIN, 0};
        ASSERT_EQ(::poll(&written, 1, -1), 1) << std::strerror(errno);
        // Read to the end once the join lets go of its end too.
        const int reader = ::open(pipe.c_str(), O_RDONLY);
        ASSERT_GE(reader, 0) << std::strerror(errno);
        ::close(both);
        scan.sendSignal(row.signal);
        char buffer[65536];
        while (::read(reader, buffer, sizeof buffer) > 0) {
        }
        ::close(reader);
        const ScanResult stopped = scan.finish();
        if (row.foundAsItWas) {
            EXPECT_EQ(stopped.exitCode, 128 + row.signal);
            const std::string last =
                "pelmora-scan: cannot join " + dir + ": stopped before its files were complete\n";
            ASSERT_GE(stopped.err.size(), last.size());
            EXPECT_EQ(stopped.err.substr(stopped.err.size() - last.size()), last);
            EXPECT_TRUE(folderBytes(dir) == stretches) << "the folder changed";
        } else {
            EXPECT_EQ(stopped.termSignal, row.signal);
            const auto now = folderBytes(dir);
            for (const auto& [name, bytes] : stretches) {
                EXPECT_TRUE(now.count(name) == 1 && now.at(name) == bytes) << name << " changed";
            }
        }
        const ScanResult finished = join(dir, options);
        EXPECT_EQ(finished.exitCode, 0) << finished.err;
        EXPECT_NE(finished.err.find("Joined 7 stretches of " + video), std::string::npos)
            << finished.err;
        EXPECT_EQ(differences(tmp.file("one"), dir), "");
        const auto joined = folderBytes(dir);
        const ScanResult again = join(dir, options);
        EXPECT_EQ(again.exitCode, 0);
        EXPECT_EQ(again.err,
                  dir + " is already joined: it holds one run's files of " + video + "\n");
        EXPECT_EQ(again.out, video + ": skipped, done before: 70 frames, 70 written\n");
        EXPECT_TRUE(folderBytes(dir) == joined) << "the folder changed";
    }
}

TEST(Join, AStretchThatEndsBeforeItsLastFrameSaysSoAndTheJoinScansOneRun) {
    TempDir tmp;
    // Noise, so that its frames outweigh the container's header.
    std::vector<cv::Mat> frames(50);
    cv::RNG rng(3);
    for (cv::Mat& frame : frames) {
        frame.create(kSize, CV_8UC3);
        rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    }
    const std::string whole = tmp.file("whole.avi");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(whole, frames, 25.0, "-c:v ffv1 -g 5 -f avi"));
    // Cut before its 21st frame's chunk, as a copy that never finished: its header still
    // announces 50 frames, and the 20 it holds are whole.
    const std::string video = tmp.file("cut.avi");
    const std::string bytes = testsupport::fileBytes(whole);
    std::string::size_type cut = bytes.find("movi");
    for (int chunk = 0; chunk < 21 && cut != std::string::npos; ++chunk) {
        cut = bytes.find("00dc", cut + 1);
    }
    ASSERT_NE(cut, std::string::npos);
    testsupport::writeFile(video, bytes.substr(0, cut));
    const ScanResult one = runScan({"-q", "-o", tmp.file("one"), video});
    EXPECT_NE(one.out.find("20 frames read, 50 announced"), std::string::npos) << one.out;
    const std::string dir = tmp.file("joined");
    const std::string why = "the video ends at frame 19, before the stretch's last, 24";
    const ScanResult first = runScan({"-q", "--segment", "0/2", "-o", dir, video});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.err,
              "Cannot split " + video + " exactly: " + why + "; --join will scan it as one run\n");
    EXPECT_EQ(runScan({"-q", "--segment", "1/2", "-o", dir, video}).exitCode, 0);
    const ScanResult joined = join(dir, {});
    EXPECT_EQ(joined.exitCode, 0) << joined.err;
    EXPECT_NE(joined.err.find("cannot be told exactly by stretch: " + why + ": scanning " + video +
                              " as one run\n"),
              std::string::npos)
        << joined.err;
    EXPECT_EQ(differences(tmp.file("one"), dir), "");
}

TEST_F(ScanTest, StretchesJoinedLeaveTheFilesOfOneRunOrAreRefused) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 45; ++i) {
        frames.push_back(clitest::withRects(clitest::solid(cv::Scalar::all(60)),
                                            {{(i * 5) % 56, 20, 8, 8}}, cv::Scalar::all(255)));
    }
    const std::string video = tmp.file("clip.avi");
    ASSERT_TRUE(testsupport::writeVideo(video, frames));
    const std::string stream = tmp.file("clip.ts");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(stream, frames, 25.0, "-c:v mpeg4 -f mpegts"));
    // The report's picture of it is read from the video, as a join's must be.
    const char* const kRegion = "0,0 44,0 44,48 0,48";
    const auto scanStretches = [&](const std::string& file, const std::string& dir,
                                   const std::string& threshold) {
        for (const char* stretch : {"0/3", "1/3", "2/3"}) {
            const ScanResult result =
                runScan({"-q", "--report", "--export", "edl,otio,vtt,json", "--region", kRegion,
                         "-t", threshold, "--segment", stretch, "-o", dir, file});
            EXPECT_EQ(result.exitCode, 0) << result.err;
        }
    };
    const struct {
        const char* name;
        std::string video;
        std::string joinThreshold;
        int exitCode;
        std::string message;  // on the error stream
    } rows[] = {
        {"joined", video, "20", 0, "Joined 3 stretches of " + video},
        {"a video that cannot be split exactly", stream, "20", 0,
         "gives no index of its frames to seek by: scanning " + stream + " as one run"},
        {"other options", video, "30", 1,
         "pelmora-scan: cannot join " + tmp.file("other options") + ": stretch 0/3 in " +
             tmp.file("other options") + " was scanned with threshold 20, not 30\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string one = tmp.file(std::string(row.name) + " one");
        const std::string joined = tmp.file(row.name);
        const ScanResult whole = runScan({"-q", "--report", "--export", "edl,otio,vtt,json",
                                          "--region", kRegion, "-o", one, row.video});
        EXPECT_EQ(whole.exitCode, 0);
        scanStretches(row.video, joined, "20");
        const auto stretches = folderBytes(joined);
        const ScanResult result =
            runScan({"-q", "--report", "--export", "edl,otio,vtt,json", "--region", kRegion, "-t",
                     row.joinThreshold, "--join", joined});
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
        if (row.exitCode != 0) {
            EXPECT_EQ(result.out, "");
            EXPECT_TRUE(folderBytes(joined) == stretches) << "a refused join changed the folder";
            continue;
        }
        // The same counts as one run's.
        EXPECT_EQ(result.out.substr(0, result.out.find(" lost, ")),
                  whole.out.substr(0, whole.out.find(" lost, ")));
        const auto expected = folderBytes(one);
        const auto got = folderBytes(joined);
        EXPECT_GT(expected.size(), 4u);
        for (const auto& [name, bytes] : expected) {
            EXPECT_TRUE(got.count(name) == 1 && got.at(name) == bytes) << name << " differs";
        }
        for (const auto& entry : got) {
            EXPECT_EQ(expected.count(entry.first), 1u) << entry.first << " is one too many";
        }
    }
    // The stretches of two files in one folder.
    const std::string mixed = tmp.file("mixed");
    const std::string other = tmp.file("other.avi");
    ASSERT_TRUE(
        testsupport::writeVideo(other, std::vector<cv::Mat>(frames.rbegin(), frames.rend())));
    EXPECT_EQ(runScan({"-q", "--segment", "0/2", "-o", mixed, video}).exitCode, 0);
    EXPECT_EQ(runScan({"-q", "--segment", "1/2", "-o", mixed, other}).exitCode, 0);
    const ScanResult result = runScan({"-q", "--join", mixed});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("stretch 1/2 in " + mixed + " was scanned with video_path \"" +
                              other + "\", not \"" + video + "\""),
              std::string::npos)
        << result.err;
}

}  // namespace
