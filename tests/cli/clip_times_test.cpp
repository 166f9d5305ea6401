// Clips of videos whose own times start again, are missing or end in the middle of a picture:
// the clips follow the scan's times, and hold what the scan saw.

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ClipRows.h"

namespace {

using namespace cliptest;
using testsupport::shellQuoted;

// The same recording three times over in one file, its times starting again each time.
bool joinedRecordings(const std::string& dir) {
    if (!ffmpeg(dir, squareVideo(4, "2", "2.5") + " " + beep(4, "0", "4") +
                         " -c:v libx264 -g 25 -pix_fmt yuv420p -c:a mp2 one.ts")) {
        return false;
    }
    const std::string one = testsupport::fileBytes(dir + "/one.ts");
    std::ofstream(dir + "/in.ts", std::ios::binary) << one << one << one;
    return true;
}

// A subtitle line shown from 5 s to 12 s, and the square from 10 s to 11 s.
std::function<bool(const std::string&)> subtitled(const std::string& extension,
                                                  const std::string& codec) {
    return [extension, codec](const std::string& dir) {
        std::ofstream(dir + "/line.srt") << "1\n00:00:05,000 --> 00:00:12,000\nlong line\n";
        return ffmpeg(dir, squareVideo(14, "10", "11") +
                               " -i line.srt -c:v libx264 -g 25 -pix_fmt yuv420p -c:s " + codec +
                               " in." + extension);
    };
}

// A file written with its index first, cut short in the middle of a picture.
bool cutShort(const std::string& dir) {
    if (!ffmpeg(dir,
                "-f lavfi -i testsrc2=s=160x120:r=25:d=12 -c:v libx264 -g 50 "
                "-pix_fmt yuv420p -movflags +faststart whole.mp4")) {
        return false;
    }
    const std::string whole = testsupport::fileBytes(dir + "/whole.mp4");
    std::ofstream(dir + "/in.mp4", std::ios::binary) << whole.substr(0, whole.size() * 93 / 100);
    return true;
}

// The clip holds the line from its first picture to the line's end at 12 s.
void lineFromTheStart(const std::string& dir, const std::string&) {
    const std::vector<ClipEntry> clips = clipEntries(dir);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(testsupport::commandOutput("ffprobe -v error -select_streams s -show_entries "
                                         "packet=pts_time,duration_time -of csv=p=0 " +
                                         shellQuoted(dir + "/" + clips[0].file)),
              "0.000000,4.000000\n");
}

// Videos whose own times start again, are missing or end in the middle of a picture.
TEST_F(ClipsTest, ClipsFollowTheScansTimesWhereverTheVideosOwnFallShort) {
    expectRows({
        Row("recordings joined end to end, times starting again, copied", joinedRecordings, "in.ts",
            {"--clips", "--before", "0.5", "--after", "0.5"})
            .cuts(
                {"EVENT0001.mkv,1000,3160", "EVENT0002.mkv,5000,7160", "EVENT0003.mkv,9000,11160"})
            .exactly()
            .also(squareAtTheEvent),
        // Its names, lists and clips all go by the times run on from each recording's end.
        Row("recordings joined end to end, times starting again, named by the stream clock",
            joinedRecordings, "in.ts",
            {"--clips", "--clock", "stream", "--before", "0.5", "--after", "0.5"})
            .cuts(
                {"EVENT0001.mkv,1000,3160", "EVENT0002.mkv,5000,7160", "EVENT0003.mkv,9000,11160"})
            .exactly()
            .also(squareAtTheEvent),
        Row("recordings joined end to end, times starting again, encoded", joinedRecordings,
            "in.ts", {"--clips", "encode", "--before", "0.5", "--after", "0.5"})
            .cuts(
                {"EVENT0001.mp4,1520,3000", "EVENT0002.mp4,5520,7000", "EVENT0003.mp4,9520,11000"})
            // MP4 marks MPEG audio of any layer alike, and ffprobe names it after layer III.
            .holding("h264,160,120\nmp3\n")
            .also(squareAtTheEvent),
        Row("raw H.264 without times",
            made(squareVideo(10, "4", "4.5") + " -c:v libx264 -g 50 -pix_fmt yuv420p in.h264"),
            "in.h264", {"--clips"})
            .says("The pictures of {video} carry no times to copy them by: encoding the clips "
                  "instead\n")
            .cuts({"EVENT0001.mp4,2000,6520"})
            .holding("h264,160,120\n")
            .also(squareAtTheEvent),
        Row("MPEG-PS, most pictures without a presentation time, copied",
            made(squareVideo(6, "3", "3.5") + " " + beep(6, "0", "6") +
                 " -c:v mpeg2video -c:a mp2 in.mpg"),
            "in.mpg", {"--clips"})
            // The last picture decoded within the stretch is shown a picture later.
            .cuts({"EVENT0001.mkv,960,5560"})
            .holding("mpeg2video,160,120\nmp2\n")
            .exactly(),
        Row("MPEG-PS encoded to its last picture",
            made(squareVideo(6, "3", "3.5") + " " + beep(6, "0", "6") +
                 " -c:v mpeg2video -c:a mp2 in.mpg"),
            "in.mpg", {"--clips", "encode", "--after", "10"})
            .cuts({"EVENT0001.mp4,1000,5960"})
            .holding("h264,160,120\nmp3\n"),
        Row("a subtitle line up from before the clip, Matroska", subtitled("mkv", "srt"), "in.mkv",
            {"--clips"})
            .cuts({"EVENT0001.mkv,8000,13160"})
            .exactly()
            .also(lineFromTheStart),
        Row("a subtitle line up from before the clip, MP4", subtitled("mp4", "mov_text"), "in.mp4",
            {"--clips"})
            .cuts({"EVENT0001.mp4,8000,13160"})
            .exactly()
            .also(lineFromTheStart),
        Row("a faststart MP4 cut short", cutShort, "in.mp4",
            {"--clips", "--event-gap", "60", "--before", "0"})
            .cuts({"EVENT0001.mp4,0,11000"})
            .exactly(),
    });
}

}  // namespace
