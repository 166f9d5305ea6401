// The clips pelmora-scan cuts from videos as recorders, cameras and other tools leave them: each
// row a small video made here with the ffmpeg tool, scanned with --clips. What is asserted is what
// a user gets: the status, the lines on the error stream, the clip columns of events.csv, and
// the clips themselves, decoded.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ScanProcess.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanProcess;
using clitest::ScanResult;
using testsupport::TempDir;

// Every row's video runs at 25 frames per second.
constexpr long long kFrameMs = 40;

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Runs the ffmpeg tool in dir with the arguments; false, and a failure, when it fails.
bool ffmpeg(const std::string& dir, const std::string& arguments) {
    const std::string command =
        "cd " + quoted(dir) + " && ffmpeg -nostdin -v error -y " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string said;
    char buffer[4096];
    std::size_t got;
    while (pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        said.append(buffer, got);
    }
    const bool made = pipe != nullptr && ::pclose(pipe) == 0;
    EXPECT_TRUE(made) << "ffmpeg " << arguments << ": " << said;
    return made;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        all.push_back(line);
    }
    return all;
}

// The first field of each line of ffprobe's plain output, less the empty lines and fields it
// gives a picture's side data.
std::vector<std::string> probed(const std::string& path, const std::string& options) {
    std::vector<std::string> values;
    for (const std::string& line : lines(testsupport::commandOutput(
             "ffprobe -v error " + options + " -of csv=p=0 " + quoted(path)))) {
        if (!line.empty()) {
            values.push_back(line.substr(0, line.find(',')));
        }
    }
    return values;
}

// Each stream as ffprobe names it: the codec, and a picture's width and height.
std::string streamsOf(const std::string& path) {
    std::string streams;
    for (std::string line : lines(testsupport::commandOutput(
             "ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " +
             quoted(path)))) {
        // Side data comes as empty fields and lines.
        line.erase(line.find_last_not_of(',') + 1);
        if (!line.empty()) {
            streams += line + "\n";
        }
    }
    return streams;
}

// The pictures of the first video stream, as ffmpeg hashes them once decoded.
std::vector<std::string> pictureHashes(const std::string& path) {
    std::vector<std::string> hashes;
    for (const std::string& line : lines(testsupport::commandOutput(
             "ffmpeg -nostdin -v quiet -i " + quoted(path) + " -map 0:v:0 -f framemd5 -"))) {
        if (!line.empty() && line[0] != '#') {
            hashes.push_back(line.substr(line.rfind(',') + 2));
        }
    }
    return hashes;
}

// What the demuxer and the decoders say of the file's damage: nothing for a clip read whole.
std::string decodeErrors(const std::string& path) {
    return testsupport::commandOutput("ffprobe -v error -show_frames " + quoted(path) +
                                      " 2>&1 >/dev/null");
}

// Whether picture index of the first video stream shows the red square the rows draw at
// (10, 10), 40 pixels wide: its middle read as red.
bool squareShown(const std::string& path, long long index) {
    const std::string bytes = testsupport::commandOutput(
        "ffmpeg -nostdin -v error -i " + quoted(path) + " -map 0:v:0 -vf " +
        quoted("select=eq(n\\," + std::to_string(index) + "),crop=8:8:26:26") +
        " -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
    if (bytes.size() != 8 * 8 * 3) {
        return false;
    }
    long long red = 0;
    long long green = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        red += static_cast<unsigned char>(bytes[i]);
        green += static_cast<unsigned char>(bytes[i + 1]);
    }
    return red > 200 * 64 && green < 60 * 64;
}

// The time in milliseconds from the clip's start at which its sound first gets loud; -1 when
// it never does.
long long soundStartMs(const std::string& path) {
    const std::string samples = testsupport::commandOutput(
        "ffmpeg -nostdin -v error -i " + quoted(path) +
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

// The three columns after peak_file of each event in events.csv, where its clip went.
std::vector<std::string> clipColumns(const std::string& dir) {
    std::vector<std::string> columns;
    const std::vector<std::string> all = lines(testsupport::fileBytes(dir + "/events.csv"));
    for (std::size_t i = 1; i < all.size(); ++i) {
        const std::string line = all[i].substr(0, all[i].find('\r'));
        std::vector<std::string> fields = testsupport::csvFields(line);
        fields.resize(std::max<std::size_t>(fields.size(), 11));
        columns.push_back(fields[8] + "," + fields[9] + "," + fields[10]);
    }
    return columns;
}

// The error stream without the lines of files saved.
std::string messages(const std::string& err) {
    std::string kept;
    for (const std::string& line : lines(err)) {
        if (line.empty() || line[0] != '[') {
            kept += line + "\n";
        }
    }
    return kept;
}

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
    return text;
}

// A grey picture, 160 x 120, where a red square shows from second `from` to second `to`.
std::string squareVideo(double seconds, const std::string& from, const std::string& to) {
    return "-f lavfi -i " + quoted("color=gray:s=160x120:r=25:d=" + std::to_string(seconds) +
                                   ",drawbox=enable=between(t\\," + from + "\\," + to +
                                   "):x=10:y=10:w=40:h=40:c=red:t=fill");
}

// A tone that sounds from second `from` to second `to` and is silent otherwise.
std::string beep(double seconds, const std::string& from, const std::string& to) {
    return "-f lavfi -i " +
           quoted("aevalsrc=if(between(t\\," + from + "\\," + to +
                  ")\\,0.5*sin(2*PI*440*t)\\,0):s=8000:d=" + std::to_string(seconds));
}

using Check = std::function<void(const std::string& dir, const std::string& video)>;

// One video and what its clips must be. Unless said otherwise, the scan ends with status 0 and
// says nothing but the files it saved.
struct Row {
    Row(const char* name, std::function<bool(const std::string&)> make, std::string video,
        std::vector<std::string> options)
        : name(name), make(std::move(make)), video(std::move(video)), options(std::move(options)) {}

    Row& ends(int code) {
        exitCode = code;
        return *this;
    }
    // The lines on the error stream besides those of saved files; {video} is its path.
    Row& says(std::string lines) {
        messages = std::move(lines);
        return *this;
    }
    // The clip columns of each event. Every clip named is decoded whole, from its first
    // picture at 0 to its last at clip_end_ms less clip_start_ms, one each 40 ms.
    Row& cuts(std::vector<std::string> columns) {
        clips = std::move(columns);
        return *this;
    }
    // Each clip's streams as ffprobe names them.
    Row& holding(std::string names) {
        streams = std::move(names);
        return *this;
    }
    // Each clip's pictures are the video's own from clip_start_ms on.
    Row& exactly() {
        exact = true;
        return *this;
    }
    Row& also(Check more) {
        check = std::move(more);
        return *this;
    }
    // The video reaches the scan through a pipe, from the file made.
    Row& throughPipeFrom(std::string file) {
        fed = std::move(file);
        return *this;
    }
    // A second run gives clips of the same bytes.
    Row& sameBytesAgain() {
        twice = true;
        return *this;
    }

    const char* name;
    // Makes the video in the folder given; false when it cannot.
    std::function<bool(const std::string&)> make;
    std::string video;
    std::vector<std::string> options;
    int exitCode = 0;
    std::string messages;
    std::vector<std::string> clips;  // empty: see check
    std::string streams;             // empty: not looked at
    bool exact = false;
    Check check;
    std::string fed;
    bool twice = false;
};

// Where a clip of a given row went: the file and its times in the video.
struct ClipEntry {
    std::string file;
    long long startMs = 0;
    long long endMs = 0;
};

std::vector<ClipEntry> clipEntries(const std::string& dir) {
    std::vector<ClipEntry> entries;
    for (const std::string& columns : clipColumns(dir)) {
        const std::size_t first = columns.find(',');
        const std::size_t second = columns.find(',', first + 1);
        if (first == 0 || first == std::string::npos || second == std::string::npos) {
            continue;
        }
        entries.push_back({columns.substr(0, first),
                           std::stoll(columns.substr(first + 1, second - first - 1)),
                           std::stoll(columns.substr(second + 1))});
    }
    return entries;
}

void expectWholeClips(const Row& row, const std::string& dir, const std::string& video) {
    const std::vector<std::string> source =
        row.exact ? pictureHashes(video) : std::vector<std::string>();
    std::string last;
    for (const ClipEntry& clip : clipEntries(dir)) {
        if (clip.file == last) {
            continue;  // shared by events close together
        }
        last = clip.file;
        SCOPED_TRACE(clip.file);
        const std::string path = dir + "/" + clip.file;
        ASSERT_TRUE(fs::is_regular_file(path));
        EXPECT_EQ(decodeErrors(path), "");
        const std::vector<std::string> times =
            probed(path, "-select_streams v:0 -show_entries frame=best_effort_timestamp_time");
        ASSERT_EQ(static_cast<long long>(times.size()), (clip.endMs - clip.startMs) / kFrameMs + 1);
        EXPECT_DOUBLE_EQ(std::stod(times.front()), 0.0);
        EXPECT_NEAR(std::stod(times.back()) * 1000.0,
                    static_cast<double>(clip.endMs - clip.startMs), 0.5);
        if (!row.streams.empty()) {
            EXPECT_EQ(streamsOf(path), row.streams);
        }
        if (row.exact) {
            const auto from = source.begin() + clip.startMs / kFrameMs;
            ASSERT_LE(clip.endMs / kFrameMs, static_cast<long long>(source.size()));
            EXPECT_EQ(pictureHashes(path),
                      std::vector<std::string>(from, source.begin() + clip.endMs / kFrameMs + 1));
        }
    }
}

// Feeds a file into a pipe from another thread, as a recorder writing into one would.
class PipeFeeder {
public:
    PipeFeeder(const std::string& from, const std::string& pipe) : pipe(pipe) {
        EXPECT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
        writer = std::thread([from, pipe] {
            const int fd = ::open(pipe.c_str(), O_WRONLY);
            const std::string bytes = testsupport::fileBytes(from);
            for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
                const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (wrote <= 0) {
                    break;
                }
                done += static_cast<std::size_t>(wrote);
            }
            if (fd >= 0) {
                ::close(fd);
            }
        });
    }
    ~PipeFeeder() {
        // A scan that never opened the pipe leaves the writer waiting for a reader.
        const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        writer.join();
        if (reader >= 0) {
            ::close(reader);
        }
    }

private:
    std::string pipe;
    std::thread writer;
};

std::function<bool(const std::string&)> made(const std::string& arguments) {
    return [arguments](const std::string& dir) { return ffmpeg(dir, arguments); };
}

// Two video streams of different sizes and rates, both flagged as the default, as a remux of
// separate recordings makes them; the first has the square.
bool twoDefault(const std::string& dir) {
    return ffmpeg(dir,
                  "-f lavfi -i color=gray:s=160x120:r=25:d=4 -f lavfi -i "
                  "color=blue:s=100x80:r=10:d=4 -filter_complex " +
                      quoted("[0]drawbox=enable=between(t\\,2\\,2.5):x=10:y=10:w=40:h=40:"
                             "c=red:t=fill[v]") +
                      " -map [v] -map 1 -c:v libx264 -pix_fmt yuv420p two.mp4") &&
           ffmpeg(dir, "-i two.mp4 -map 0 -c copy -disposition:v:1 default in.mp4");
}

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

// Pictures of an odd size, lossless.
std::function<bool(const std::string&)> oddSize(const std::string& size,
                                                const std::string& pictures) {
    return made("-f lavfi -i color=gray:s=" + size + ":r=25:d=4,format=yuv444p -vf " +
                quoted(pictures) + " -c:v ffv1 in.mkv");
}

// The clip holds the line from its first picture to the line's end at 12 s.
void lineFromTheStart(const std::string& dir, const std::string&) {
    const std::vector<ClipEntry> clips = clipEntries(dir);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_EQ(testsupport::commandOutput("ffprobe -v error -select_streams s -show_entries "
                                         "packet=pts_time,duration_time -of csv=p=0 " +
                                         quoted(dir + "/" + clips[0].file)),
              "0.000000,4.000000\n");
}

// The square shows in each clip at the time its event starts, and not a picture before.
void squareAtTheEvent(const std::string& dir, const std::string&) {
    const std::vector<std::string> all = lines(testsupport::fileBytes(dir + "/events.csv"));
    const std::vector<ClipEntry> clips = clipEntries(dir);
    ASSERT_EQ(clips.size() + 1, all.size());
    for (std::size_t i = 0; i < clips.size(); ++i) {
        SCOPED_TRACE(all[i + 1]);
        const long long eventMs = std::stoll(all[i + 1].substr(all[i + 1].find(',') + 1));
        const long long at = (eventMs - clips[i].startMs) / kFrameMs;
        const std::string path = dir + "/" + clips[i].file;
        EXPECT_TRUE(squareShown(path, at));
        EXPECT_FALSE(squareShown(path, at - 1));
    }
}

// The sound keeps its place beside the pictures: the tone starts with the square, at 2 s.
void soundWithThePictures(const std::string& dir, const std::string&) {
    const std::vector<ClipEntry> clips = clipEntries(dir);
    ASSERT_EQ(clips.size(), 1u);
    EXPECT_NEAR(static_cast<double>(soundStartMs(dir + "/" + clips[0].file)),
                static_cast<double>(2000 - clips[0].startMs), 30.0);
}

const std::string kSquare = squareVideo(4, "2", "2.5");
const std::string kTone = " " + beep(4, "2", "2.5");

class ClipsTest : public testing::Test {
protected:
    // Scans each row's video with its options, and holds what came out to the row.
    void expectRows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            const std::string folder = tmp.file(row.name);
            fs::create_directories(folder);
            ASSERT_TRUE(row.make(folder));
            const std::string video = folder + "/" + row.video;
            std::optional<PipeFeeder> feeder;
            if (!row.fed.empty()) {
                feeder.emplace(folder + "/" + row.fed, video);
            }
            const std::string dir = folder + "/out";
            std::vector<std::string> arguments = row.options;
            arguments.insert(arguments.end(), {"-o", dir, video});
            const ScanResult result = runScan(arguments);
            feeder.reset();
            EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
            EXPECT_EQ(messages(result.err), replaced(row.messages, "{video}", video));
            if (!row.clips.empty()) {
                EXPECT_EQ(clipColumns(dir), row.clips);
            }
            expectWholeClips(row, dir, video);
            if (row.check) {
                row.check(dir, video);
            }
            if (row.twice) {
                arguments.end()[-2] = dir + "-again";
                EXPECT_EQ(runScan(arguments).exitCode, row.exitCode);
                for (const ClipEntry& clip : clipEntries(dir)) {
                    EXPECT_EQ(testsupport::fileBytes(dir + "-again/" + clip.file),
                              testsupport::fileBytes(dir + "/" + clip.file))
                        << clip.file;
                }
            }
        }
    }

    TempDir tmp;
};

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
    ASSERT_TRUE(ffmpeg(tmp.path(), "-f lavfi -i " +
                                       quoted("color=black:s=32x32:r=25:d=120,geq=lum=if(mod(N\\,"
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
