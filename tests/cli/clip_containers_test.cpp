// The clips pelmora-scan cuts from videos as recorders, cameras and other tools leave them: which
// stream a clip is cut from, and into which container. Each row a small video made here with the
// ffmpeg tool, scanned with --clips; what is asserted is what a user gets: the status, the lines
// on the error stream, the clip columns of events.csv, and the clips themselves, decoded.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClipRows.h"

namespace {

using namespace cliptest;
using testsupport::shellQuoted;

// Two video streams of different sizes and rates, both flagged as the default, as a remux of
// separate recordings makes them; the first has the square.
bool twoDefault(const std::string& dir) {
    return ffmpeg(dir,
                  "-f lavfi -i color=gray:s=160x120:r=25:d=4 -f lavfi -i "
                  "color=blue:s=100x80:r=10:d=4 -filter_complex " +
                      shellQuoted("[0]drawbox=enable=between(t\\,2\\,2.5):x=10:y=10:w=40:h=40:"
                                  "c=red:t=fill[v]") +
                      " -map [v] -map 1 -c:v libx264 -pix_fmt yuv420p two.mp4") &&
           ffmpeg(dir, "-i two.mp4 -map 0 -c copy -disposition:v:1 default in.mp4");
}

// H.264 as MP4 holds it, which AVI reads but will not write, and AAC beside it.
bool remuxedIntoAvi(const std::string& dir) {
    return ffmpeg(dir, squareVideo(4, "2", "2.5") +
                           " -c:v libx264 -bf 0 -pix_fmt yuv420p pictures.mp4") &&
           ffmpeg(dir, beep(4, "0", "4") + " -c:a aac sound.aac") &&
           ffmpeg(dir, "-i pictures.mp4 -i sound.aac -c copy in.avi");
}

// A cover picture attached to a Matroska file.
bool withCover(const std::string& dir) {
    return ffmpeg(dir, "-f lavfi -i color=green:s=64x64 -frames:v 1 cover.png") &&
           ffmpeg(dir, squareVideo(4, "2", "2.5") + " -c:v libx264 -pix_fmt yuv420p plain.mp4") &&
           ffmpeg(dir,
                  "-i plain.mp4 -attach cover.png -metadata:s:t mimetype=image/png -c copy in.mkv");
}

// Which stream a clip is cut from, and into which container.
TEST_F(ClipsTest, EachStreamAndContainerGivesClipsOfTheScannedPicturesOrSaysWhyNot) {
    expectRows({
        Row("two video streams, both called the default, copied", twoDefault, "in.mp4", {"--clips"})
            .cuts({"EVENT0001.mp4,0,3960"})
            .holding("h264,160,120\nh264,100,80\n")
            .exactly(),
        Row("two video streams, both called the default, encoded", twoDefault, "in.mp4",
            {"--clips", "encode"})
            .cuts({"EVENT0001.mp4,0,3960"})
            .holding("h264,160,120\n"),
        Row("a cover picture attached", withCover, "in.mkv", {"--clips"})
            .cuts({"EVENT0001.mkv,0,3960"})
            .holding("h264,160,120\n")
            .exactly(),
        Row("raw pictures in AVI", made(kSquare + " -c:v rawvideo -pix_fmt yuv420p in.avi"),
            "in.avi", {"--clips", "--before", "0.5", "--after", "0.5"})
            .cuts({"EVENT0001.avi,1480,3000"})
            .holding("rawvideo,160,120\n")
            .exactly(),
        Row("MPEG-TS, which says nothing clear of what it takes, copied into Matroska",
            made(kSquare + kTone + " -c:v libx264 -g 25 -pix_fmt yuv420p -c:a mp2 in.ts"), "in.ts",
            {"--clips"})
            .cuts({"EVENT0001.mkv,0,3960"})
            .holding("h264,160,120\nmp2\n")
            .exactly()
            .sameBytesAgain(),
        Row("raw pictures in YUV4MPEG, copied into Matroska",
            made(kSquare + " -pix_fmt yuv420p in.y4m"), "in.y4m", {"--clips"})
            .cuts({"EVENT0001.mkv,0,3960"})
            .holding("rawvideo,160,120\n")
            .exactly()
            .sameBytesAgain(),
        Row("H.264 and AAC that AVI will not take back", remuxedIntoAvi, "in.avi", {"--clips"})
            .says("Cannot copy EVENT0001.avi of {video} as it is (Invalid data found when "
                  "processing input): copying it into Matroska instead\n")
            .cuts({"EVENT0001.mkv,0,3960"})
            .holding("h264,160,120\naac\n")
            .exactly(),
        Row("a pipe", made(kSquare + " -c:v ffv1 source.mkv"), "in", {"--clips"})
            .throughPipeFrom("source.mkv")
            .ends(1)
            .says("Cannot cut the clips of {video}: it is a pipe, which can be read only once; "
                  "save it to a file to have them\n")
            .cuts({",,"}),
    });
}

}  // namespace
