// Clips encoded anew and clips of single pictures: every pixel and the sound in their place, a
// clip of its own for every picture, and no clip cut by a stopped scan.

#include <signal.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ClipRows.h"
#include "ScanProcess.h"

namespace {

using namespace cliptest;
using clitest::ScanProcess;
using clitest::ScanResult;
using testsupport::shellQuoted;

// The time in milliseconds from the clip's start at which its sound first gets loud; -1 when
// it never does.
long long soundStartMs(const std::string& path) {
    const std::string samples = testsupport::commandOutput(
        "ffmpeg -nostdin -v error -i " + shellQuoted(path) +
        " -map 0:a:0 -af aresample=async=1:first_pts=0 -ac 1 -ar 8000 -f s16le "
        "-acodec pcm_s16le -");
    for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
        int16_t sample = 0;
        std::memcpy(&sample, samples.data() + i, sizeof sample);
        if (sample > 2000 || sample < -2000) {
            return static_cast<long long>(i / 2) * 1000 / 8000;
        }
    }
    return -1;
}

// Pictures of an odd size, lossless.
std::function<bool(const std::string&)> oddSize(const std::string& size,
                                                const std::string& pictures) {
    return made("-f lavfi -i color=gray:s=" + size + ":r=25:d=4,format=yuv444p -vf " +
                shellQuoted(pictures) + " -c:v ffv1 in.mkv");
}

// The sound keeps its place beside the pictures: the tone starts with the square, at 2 s.
void soundWithThePictures(const std::string& dir, const std::string&) {
    const std::vector<ClipEntry> clips = clipEntries(dir);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_NEAR(static_cast<double>(soundStartMs(dir + "/" + clips[0].file)),
                static_cast<double>(2000 - clips[0].startMs), 30.0);
}

// Clips of a picture each, as many as the pictures, cut side by side from one reading.
TEST_F(ClipsTest, EveryPictureGetsAClipOfItsOwn) {
    expectRows({
        // Six pictures, coded with B-frames: the start and five clips, each cut between pictures
        // shown out of order.
        Row("a clip of every picture, shown out of order",
            made("-f lavfi -i testsrc2=s=160x120:r=25:d=0.24 -c:v libx264 -bf 3 -pix_fmt yuv420p "
                 "in.mp4"),
            "in.mp4", {"--clips", "--event-gap", "0", "--before", "0", "--after", "0"})
            .exactly()
            .also([](const std::string& dir, const std::string&) {
                EXPECT_EQ(clipEntries(dir).size(), 5u);
                EXPECT_EQ(clipColumns(dir).size(), 5u);
            }),
    });
}

// What encoding changes: the size H.264 takes, and the sound's place beside the pictures.
TEST_F(ClipsTest, EncodedClipsKeepEveryPixelAndTheSoundInItsPlace) {
    expectRows({
        Row("an odd size, encoded",
            oddSize("321x241",
                    "drawbox=enable=between(t\\,2\\,2.5):x=10:y=10:"
                    "w=40:h=40:c=red:t=fill"),
            "in.mkv", {"--clips", "encode"})
            .says("Encoding the clips of {video} at 322x242: H.264 takes only even sizes, so its "
                  "321x241 pictures gain a copy of their last column and row\n")
            .cuts({"EVENT0001.mp4,0,3960"})
            .holding("h264,322,242\n")
            .also(squareAtTheEvent),
        Row("one pixel, encoded",
            oddSize("2x2", "geq=lum=if(between(T\\,2\\,3)\\,250\\,30):cb=128:cr=128,crop=1:1:0:0"),
            "in.mkv", {"--clips", "encode", "-t", "0", "--min-pixels", "0"})
            .says("Encoding the clips of {video} at 2x2: H.264 takes only even sizes, so its 1x1 "
                  "pictures gain a copy of their last column and row\n")
            .cuts({"EVENT0001.mp4,0,3960"})
            .holding("h264,2,2\n"),
        Row("streams that start at ten seconds, sound encoded anew",
            made(kSquare + kTone + " -c:v ffv1 -c:a pcm_s16le -output_ts_offset 10 in.mkv"),
            "in.mkv", {"--clips", "encode", "--before", "1", "--after", "1"})
            .cuts({"EVENT0001.mp4,1000,3520"})
            .holding("h264,160,120\naac\n")
            .also(soundWithThePictures)
            .sameBytesAgain(),
        Row("MPEG-TS, streams after zero, sound copied beside encoded pictures",
            made(kSquare + kTone + " -c:v libx264 -g 25 -pix_fmt yuv420p -c:a mp2 in.ts"), "in.ts",
            {"--clips", "encode", "--before", "1", "--after", "1"})
            .cuts({"EVENT0001.mp4,1000,3520"})
            .holding("h264,160,120\nmp3\n")
            .also(soundWithThePictures),
    });
}

TEST_F(ClipsTest, AStopDuringTheScanCutsNoClipAndLosesNone) {
    // Black and white in turn: every picture is a snapshot and a line that the scan waits on
    // until it is read, so the stop comes long before the end.
    ASSERT_TRUE(
        ffmpeg(tmp.path(), "-f lavfi -i " +
                               shellQuoted("color=black:s=32x32:r=25:d=120,geq=lum=if(mod(N\\,"
                                           "2)\\,255\\,0):cb=128:cr=128") +
                               " -c:v ffv1 long.mkv"));
    const std::string video = tmp.file("long.mkv");
    const std::string dir = tmp.file("out");
    ScanProcess scan({"--clips", "--event-gap", "0", "-o", dir, video});
    ASSERT_TRUE(scan.readUntilErrorLine("[" + dir + "/IMG00000040.jpg]"));
    scan.sendSignal(SIGINT);
    const ScanResult result = scan.finish();
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(messages(result.err), "");
    EXPECT_NE(result.out.find(", 0 lost, "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(", interrupted\n"), std::string::npos) << result.out;
    for (const std::string& name : testsupport::listDir(dir)) {
        EXPECT_EQ(name.find("EVENT"), std::string::npos) << name;
    }
    const std::vector<std::string> columns = clipColumns(dir);
    EXPECT_FALSE(columns.empty());
    EXPECT_EQ(columns, std::vector<std::string>(columns.size(), ",,"));
}

}  // namespace
