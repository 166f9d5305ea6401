// A video scanned in stretches and joined against the same video scanned as one run: the
// folders must match byte for byte, whatever the stretches' boundaries cut through.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "RunRecorder.h"
#include "SegmentJoin.h"
#include "SegmentScan.h"
#include "TestSupport.h"
#include "VideoStretch.h"

namespace {

namespace fs = std::filesystem;
using pelmora::JoinResult;
using pelmora::RunRecorder;
using pelmora::RunRequest;
using testsupport::folderBytes;
using testsupport::solidFrame;
using testsupport::TempDir;
using testsupport::withRect;

// Wide enough for the whole status line, which names the changed pixels.
const cv::Size kSize(240, 48);
const cv::Scalar kGrey = cv::Scalar::all(90);
const cv::Scalar kWhite = cv::Scalar::all(255);
// FFV1 in AVI, lossless, with a keyframe every gop frames.
std::string ffv1(int gop) {
    return "-c:v ffv1 -g " + std::to_string(gop) + " -f avi";
}

// The files that differ between two folders, or are in one only; empty when they match.
std::string differences(const std::string& one, const std::string& other) {
    const auto expected = folderBytes(one, false);
    const auto got = folderBytes(other, false);
    std::string text;
    if (expected.size() < 4) {
        text += "too few files to tell anything; ";
    }
    for (const auto& [name, bytes] : expected) {
        const auto found = got.find(name);
        if (found == got.end()) {
            text += name + " missing; ";
        } else if (found->second != bytes) {
            text += name + " differs; ";
        }
    }
    for (const auto& entry : got) {
        if (expected.count(entry.first) == 0) {
            text += entry.first + " too many; ";
        }
    }
    return text;
}

pelmora::RecordOptions withReport() {
    pelmora::RecordOptions options;
    options.events = true;
    options.report = true;
    return options;
}

const std::vector<std::pair<std::string, std::string>> kIdentity = {{"threshold", "20"}};

void scanWhole(const std::string& video, const std::string& dir) {
    testsupport::TestHost host;
    RunRecorder recorder(withReport(), host);
    RunRequest request{video, dir, 20};
    request.observer = &recorder;
    pelmora::FrameDetector detector;
    ASSERT_EQ(pelmora::runDetection(detector, request, host).status,
              pelmora::RunReport::Status::Finished);
}

// Scans the stretches one after another; the inexact reason of the first that has one. Nothing
// stops them, so each is done, exactly or not.
std::string scanStretches(const std::string& video, const std::string& dir, int count) {
    std::string inexact;
    for (int index = 0; index < count; ++index) {
        testsupport::TestHost host;
        pelmora::SegmentRequest request;
        request.run = RunRequest{video, pelmora::segmentFolder(dir, index, count), 20};
        request.index = index;
        request.count = count;
        request.identity = kIdentity;
        const pelmora::SegmentScan scan = pelmora::scanSegment(request, host);
        EXPECT_TRUE(scan.recorded) << scan.recordError << host.text();
        EXPECT_EQ(scan.report.status, pelmora::RunReport::Status::Finished) << index;
        if (inexact.empty()) {
            inexact = scan.inexact;
        }
    }
    return inexact;
}

JoinResult join(const std::string& dir,
                const std::vector<std::pair<std::string, std::string>>& identity = kIdentity) {
    testsupport::TestHost host;
    RunRecorder recorder(withReport(), host);
    pelmora::JoinRequest request;
    request.run = RunRequest{std::string(), dir, 20};
    request.identity = identity;
    request.recorder = &recorder;
    const pelmora::SegmentSet segments = pelmora::readSegments(dir);
    const JoinResult result = pelmora::joinSegments(segments, request, host);
    if (result.outcome == JoinResult::Outcome::Joined) {
        EXPECT_TRUE(pelmora::removeSegments(segments).empty());
    }
    return result;
}

// count frames of a grey scene, frame i with a white square where square(i) puts it (none for
// an empty one).
std::vector<cv::Mat> scene(int count, const std::function<cv::Rect(int)>& square) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i) {
        const cv::Rect rect = square(i);
        frames.push_back(rect.area() > 0 ? withRect(solidFrame(kSize, kGrey), rect, kWhite)
                                         : solidFrame(kSize, kGrey));
    }
    return frames;
}

TEST(Segments, JoinedStretchesLeaveWhatOneRunLeaves) {
    const auto moving = [](int i) { return cv::Rect(2 + (i * 3) % 200, 30, 8, 8); };
    const auto stillAfter3 = [](int i) { return i >= 3 ? cv::Rect(200, 30, 8, 8) : cv::Rect(); };
    const auto changeAt40 = [](int i) { return i >= 40 ? cv::Rect(200, 30, 8, 8) : cv::Rect(); };
    std::vector<cv::Mat> withBlack = scene(60, moving);
    for (int i = 20; i < 40; ++i) {
        withBlack[i] = solidFrame(kSize, cv::Scalar::all(0));
    }
    const struct {
        const char* name;
        std::vector<cv::Mat> frames;
        std::string options;  // for the ffmpeg command
        int count;
        long long scannedAgainAtMost;  // -1: not checked
    } rows[] = {
        // The true reference of the later stretches is frame 3, far back; no stretch's run meets
        // the one run, so each is scanned again whole.
        {"a still scene with stretches starting in a quiet spell", scene(90, stillAfter3), ffv1(10),
         3, -1},
        {"motion across every boundary", scene(70, moving), ffv1(10), 7, -1},
        // Both runs take frame 40, the first of the second stretch, with other counts.
        {"a snapshot exactly on a boundary frame", scene(80, changeAt40), ffv1(10), 2, 1},
        // The second stretch is black, which its own run's black reference never tells apart.
        {"a stretch whose own run takes no snapshot", withBlack, ffv1(10), 3, -1},
        {"one stretch", scene(30, moving), ffv1(10), 1, 0},
        {"two stretches", scene(50, moving), ffv1(10), 2, -1},
        {"more stretches than keyframes", scene(60, moving), ffv1(50), 7, -1},
        {"Matroska", scene(50, moving), "-c:v ffv1 -g 10 -f matroska", 3, -1},
        // Decoded after a seek as from the start, B-frames and all.
        {"MP4 with B-frames", scene(50, moving),
         "-c:v libx264 -qp 0 -bf 2 -g 12 -pix_fmt yuv444p -f mp4", 3, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string video = dir.file("video");
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, row.frames, 25.0, row.options));
        scanWhole(video, dir.file("one"));
        EXPECT_EQ(scanStretches(video, dir.file("joined"), row.count), "");
        const JoinResult result = join(dir.file("joined"));
        EXPECT_EQ(result.outcome, JoinResult::Outcome::Joined) << result.message;
        if (row.scannedAgainAtMost >= 0) {
            EXPECT_LE(result.framesScannedAgain, row.scannedAgainAtMost);
        }
        EXPECT_EQ(differences(dir.file("one"), dir.file("joined")), "");
    }
}

// Every count of stretches, one frame each at the most, so that a stretch's first, last or
// second-to-last frame falls on every snapshot in turn: the reference the one run had at each
// stretch's end must be handed on, wherever in the stretch the scan again met its own run.
TEST(Segments, EveryCountOfStretchesJoinsAsOneRun) {
    // Still but for a square that appears at 2, jumps at 5 and 6 and again at 10.
    const auto square = [](int i) {
        return i < 2 ? cv::Rect()
                     : cv::Rect(i < 5    ? 20
                                : i < 6  ? 60
                                : i < 10 ? 100
                                         : 140,
                                20, 8, 8);
    };
    // Still after a square at frame 1, which one-frame stretches meet at their only frame.
    const auto once = [](int i) { return i < 1 ? cv::Rect() : cv::Rect(40, 10, 8, 8); };
    const struct {
        const char* name;
        std::vector<cv::Mat> frames;
        std::vector<int> counts;  // empty: every count from 1 to the frame count
    } rows[] = {
        {"twelve frames, keyframes every four", scene(12, square), {}},
        {"eight frames, one change", scene(8, once), {}},
        {"fifty frames, stretches of one and two frames", scene(50, square), {26, 49, 50}},
    };
    for (const auto& row : rows) {
        TempDir dir;
        const std::string video = dir.file("video.avi");
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, row.frames, 25.0, ffv1(4)));
        scanWhole(video, dir.file("one"));
        std::vector<int> counts = row.counts;
        if (counts.empty()) {
            for (int count = 1; count <= static_cast<int>(row.frames.size()); ++count) {
                counts.push_back(count);
            }
        }
        for (const int count : counts) {
            SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(count) + " stretches");
            const std::string joined = dir.file("joined " + std::to_string(count));
            ASSERT_EQ(scanStretches(video, joined, count), "");
            const JoinResult result = join(joined);
            ASSERT_EQ(result.outcome, JoinResult::Outcome::Joined) << result.message;
            EXPECT_EQ(differences(dir.file("one"), joined), "");
        }
    }
}

// Where a join is killed: its host kills the process the first time the join gets there.
enum class KillPoint { ScanningAgain, FilesMade, FirstFileMovedIn, LastFileMovedIn };

class KillingHost : public testsupport::TestHost {
public:
    explicit KillingHost(KillPoint at) : at(at) {}

    bool stopAfterFrame() override {
        killAt(KillPoint::ScanningAgain);
        return false;
    }
    void progress(int percent) override {
        // Told how far the files have moved in once they are all made.
        if (made) {
            killAt(KillPoint::FirstFileMovedIn);
            if (percent == 100) {
                killAt(KillPoint::LastFileMovedIn);
            }
        }
    }
    void filesMade() {
        made = true;
        killAt(KillPoint::FilesMade);
    }

private:
    void killAt(KillPoint point) const {
        if (point == at) {
            ::raise(SIGKILL);
        }
    }

    const KillPoint at;
    bool made = false;
};

TEST(Segments, AJoinKilledAnywhereIsFinishedOrStartedAgain) {
    const auto moving = [](int i) { return cv::Rect(2 + (i * 7) % 200, 20, 8, 8); };
    TempDir dir;
    const std::string video = dir.file("video.avi");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, scene(30, moving), 25.0, ffv1(5)));
    scanWhole(video, dir.file("one"));
    using Stopped = pelmora::StoppedJoin::Outcome;
    const struct {
        const char* name;
        KillPoint at;
        Stopped found;  // what the next join finds
        // The second stretch is scanned anew, with other options, before the next join: the
        // folder is another stretch's, which finishing the join leaves alone.
        bool scannedAnew;
    } rows[] = {
        {"while a stretch is scanned again", KillPoint::ScanningAgain, Stopped::Discarded, false},
        {"once the files are made", KillPoint::FilesMade, Stopped::Discarded, false},
        {"once the first file moved in", KillPoint::FirstFileMovedIn, Stopped::Finished, false},
        {"once the last file moved in", KillPoint::LastFileMovedIn, Stopped::Finished, false},
        {"once the first file moved in, a stretch scanned anew since", KillPoint::FirstFileMovedIn,
         Stopped::Finished, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string joined = dir.file(row.name);
        ASSERT_EQ(scanStretches(video, joined, 3), "");
        const auto stretches = folderBytes(joined, false);
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            KillingHost host(row.at);
            RunRecorder recorder(withReport(), host);
            pelmora::JoinRequest request;
            request.run = RunRequest{std::string(), joined, 20};
            request.identity = kIdentity;
            request.recorder = &recorder;
            request.staged = [&host](const pelmora::RunReport&) {
                host.filesMade();
                return std::string();
            };
            pelmora::joinSegments(pelmora::readSegments(joined), request, host);
            // Without the test framework's exit handlers, which belong to the parent.
            std::_Exit(1);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        EXPECT_TRUE(fs::is_directory(pelmora::joinStagingFolder(joined)));
        const std::string second = pelmora::segmentFolder(joined, 1, 3);
        if (row.scannedAnew) {
            testsupport::TestHost host;
            pelmora::SegmentRequest request;
            request.run = RunRequest{video, second, 30};
            request.index = 1;
            request.count = 3;
            request.identity = {{"threshold", "30"}};
            ASSERT_TRUE(pelmora::scanSegment(request, host).recorded);
        }
        const pelmora::StoppedJoin stopped = pelmora::finishStoppedJoin(joined);
        EXPECT_EQ(stopped.outcome, row.found) << stopped.message;
        EXPECT_TRUE(stopped.leftovers.empty());
        if (row.found == Stopped::Finished) {
            EXPECT_EQ(fs::exists(second), row.scannedAnew);
            fs::remove_all(second);
        }
        if (row.found == Stopped::Discarded) {
            EXPECT_TRUE(folderBytes(joined, false) == stretches) << "the stretches changed";
            const JoinResult result = join(joined);
            EXPECT_EQ(result.outcome, JoinResult::Outcome::Joined) << result.message;
        }
        EXPECT_EQ(differences(dir.file("one"), joined), "");
    }
}

TEST(Segments, VideosWhoseFramesCannotBeToldExactlyAreLeftToOneRun) {
    const auto moving = [](int i) { return cv::Rect(2 + i % 48, 10, 8, 8); };
    const struct {
        const char* name;
        std::string options;
        std::string file;
        const char* reason;
        int keptFrames = 0;  // the file is cut short after as many, its header unchanged
    } rows[] = {
        {"a container without an index", "-c:v mpeg4 -f mpegts", "v.ts", "container (mpegts)"},
        // The second stretch starts where the copy of the file ended.
        {"a file cut short that announces more than it holds", ffv1(5), "v.avi",
         "frame 20 cannot be found exactly: the video ends before it", 20},
        // Every other frame lies half a frame late at the 25 frames per second the stream gives.
        {"a variable rate",
         "-c:v ffv1 -vf settb=1/1000,setpts='(N/25+if(mod(N\\,2)\\,0.02\\,0))/TB' "
         "-vsync passthrough -enc_time_base 1/1000 -f matroska",
         "v.mkv", "not at its place"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string video = dir.file(row.file);
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, scene(40, moving), 25.0, row.options));
        if (row.keptFrames > 0) {
            const std::string bytes = testsupport::fileBytes(video);
            std::string::size_type cut = bytes.find("movi");
            for (int chunk = 0; chunk <= row.keptFrames && cut != std::string::npos; ++chunk) {
                cut = bytes.find("00dc", cut + 1);
            }
            ASSERT_NE(cut, std::string::npos);
            std::ofstream(video, std::ios::binary | std::ios::trunc) << bytes.substr(0, cut);
        }
        EXPECT_NE(scanStretches(video, dir.file("joined"), 2).find(row.reason), std::string::npos);
        const JoinResult result = join(dir.file("joined"));
        EXPECT_EQ(result.outcome, JoinResult::Outcome::OneRunNeeded);
        EXPECT_NE(result.message.find(row.reason), std::string::npos) << result.message;
        EXPECT_EQ(testsupport::listDir(dir.file("joined")).size(), 2u);
    }
}

TEST(Segments, RecordsOfOtherOptionsOrOfAnUnfinishedSetAreRefused) {
    TempDir dir;
    const std::string video = dir.file("v.avi");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(
        video, scene(30, [](int i) { return cv::Rect(i, 10, 8, 8); }), 25.0, ffv1(10)));
    const std::string folder = dir.file("joined");
    ASSERT_EQ(scanStretches(video, folder, 3), "");
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> identity;
        std::string message;
    } rows[] = {
        {"another value", {{"threshold", "30"}}, "was scanned with threshold 20, not 30"},
        {"a setting the records lack",
         {{"threshold", "20"}, {"mask", "m.png"}},
         "says nothing of mask"},
        {"a setting the join lacks", {}, "was scanned with threshold 20, which this scan"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const JoinResult result = join(folder, row.identity);
        EXPECT_EQ(result.outcome, JoinResult::Outcome::Refused);
        EXPECT_NE(result.message.find(row.message), std::string::npos) << result.message;
    }
    fs::remove_all(pelmora::segmentFolder(folder, 1, 3));
    const JoinResult missing = join(folder);
    EXPECT_EQ(missing.outcome, JoinResult::Outcome::Refused);
    EXPECT_NE(missing.message.find("stretch 1/3 has not finished"), std::string::npos)
        << missing.message;
}

TEST(Segments, StretchesAndFrameIndices) {
    const struct {
        const char* name;
        int index;
        int count;
        long long frames;
        long long first;
        long long last;
    } stretches[] = {
        {"the only one reads to the end", 0, 1, 7, 0, -1},
        {"the first of three of seven frames", 0, 3, 7, 0, 1},
        {"the middle one", 1, 3, 7, 2, 3},
        {"the last reads to the end", 2, 3, 7, 4, -1},
    };
    for (const auto& row : stretches) {
        SCOPED_TRACE(row.name);
        const pelmora::VideoStretch stretch = pelmora::stretchOf(row.index, row.count, row.frames);
        EXPECT_EQ(stretch.first, row.first);
        EXPECT_EQ(stretch.last, row.last);
        EXPECT_TRUE(stretch.exact);
    }
    const struct {
        const char* name;
        double ms;
        double fps;
        long long index;  // -1: none
    } times[] = {
        {"the first frame", 0.0, 25.0, 0},
        {"a whole frame", 1000.0, 25.0, 25},
        {"a millisecond's rounding at 30 per second", 33.0, 30.0, 1},
        {"a quarter frame late still is the frame", 50.0, 25.0, 1},
        {"just past a quarter frame is none", 50.01, 25.0, -1},
        {"half way is none", 20.0, 25.0, -1},
        {"before the start is none", -40.0, 25.0, -1},
        {"no rate is none", 40.0, 0.0, -1},
    };
    for (const auto& row : times) {
        SCOPED_TRACE(row.name);
        const std::optional<long long> index = pelmora::frameIndexAt(row.ms, row.fps);
        EXPECT_EQ(index ? *index : -1, row.index);
    }
}

// Times as a user gives them, turned into frames by the names the frames' snapshots carry.
TEST(Segments, TimesStandForTheFramesNamedWithin) {
    const std::optional<long long> none;
    const struct {
        const char* name;
        std::optional<long long> fromMs;
        std::optional<long long> toMs;
        double fps;
        long long frames;
        long long first;
        long long last;       // -1: to the end
        const char* refusal;  // empty: the stretch above
    } rows[] = {
        {"from 0 is the first frame, read without a seek", 0, none, 25.0, 100, 0, -1, ""},
        {"a time exactly on a frame is that frame", 1000, 2000, 25.0, 100, 25, 50, ""},
        {"a quarter frame after one starts at the next, ends at it", 1010, 2010, 25.0, 100, 26, 50,
         ""},
        {"a quarter frame before one starts at it, ends at the one before", 990, 1990, 25.0, 100,
         25, 49, ""},
        {"on a frame named by a rounded millisecond", 33, 67, 30.0, 100, 1, 2, ""},
        {"the end of the last frame takes it", none, 4000, 25.0, 100, 0, 99, ""},
        {"the last frame alone", 3960, none, 25.0, 100, 99, -1, ""},
        {"one millisecond past the end", none, 4001, 25.0, 100, 0, 0,
         "the stretch ends at 4.001 s, past the video's end at 4.000 s"},
        {"a start after the last frame", 3961, none, 25.0, 100, 0, 0,
         "the stretch starts at 3.961 s, past the video's last frame at 3.960 s"},
        {"between two frames", 1010, 1030, 25.0, 100, 0, 0,
         "no frame lies between 1.010 s and 1.030 s"},
        {"no rate", 0, 1000, 0.0, 100, 0, 0, "no usable frame rate"},
        {"no length", 0, 1000, 25.0, 0, 0, 0, "does not announce how many frames"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        pelmora::VideoStretch stretch;
        const std::string refusal =
            pelmora::stretchAtTimes({row.fromMs, row.toMs}, row.fps, row.frames, stretch);
        if (*row.refusal != '\0') {
            EXPECT_NE(refusal.find(row.refusal), std::string::npos) << refusal;
            continue;
        }
        ASSERT_EQ(refusal, "");
        EXPECT_EQ(stretch.first, row.first);
        EXPECT_EQ(stretch.last, row.last);
        EXPECT_EQ(stretch.exact, row.first > 0);
    }
}

}  // namespace
