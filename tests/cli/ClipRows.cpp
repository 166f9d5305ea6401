#include "ClipRows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <thread>

#include "ScanProcess.h"

namespace cliptest {

namespace fs = std::filesystem;
using clitest::runScan;
using clitest::ScanResult;
using testsupport::shellQuoted;

namespace {

// The first field of each line of ffprobe's plain output, less the empty lines and fields it
// gives a picture's side data.
std::vector<std::string> probed(const std::string& path, const std::string& options) {
    std::vector<std::string> values;
    for (const std::string& line : lines(testsupport::commandOutput(
             "ffprobe -v error " + options + " -of csv=p=0 " + shellQuoted(path)))) {
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
             shellQuoted(path)))) {
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
             "ffmpeg -nostdin -v quiet -i " + shellQuoted(path) + " -map 0:v:0 -f framemd5 -"))) {
        if (!line.empty() && line[0] != '#') {
            hashes.push_back(line.substr(line.rfind(',') + 2));
        }
    }
    return hashes;
}

// What the demuxer and the decoders say of the file's damage: nothing for a clip read whole.
std::string decodeErrors(const std::string& path) {
    return testsupport::commandOutput("ffprobe -v error -show_frames " + shellQuoted(path) +
                                      " 2>&1 >/dev/null");
}

// Whether picture index of the first video stream shows the red square the rows draw at
// (10, 10), 40 pixels wide: its middle read as red.
bool squareShown(const std::string& path, long long index) {
    const std::string bytes = testsupport::commandOutput(
        "ffmpeg -nostdin -v error -i " + shellQuoted(path) + " -map 0:v:0 -vf " +
        shellQuoted("select=eq(n\\," + std::to_string(index) + "),crop=8:8:26:26") +
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

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
    return text;
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

}  // namespace

bool ffmpeg(const std::string& dir, const std::string& arguments) {
    const std::string command =
        "cd " + shellQuoted(dir) + " && ffmpeg -nostdin -v error -y " + arguments + " 2>&1";
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

std::string messages(const std::string& err) {
    std::string kept;
    for (const std::string& line : lines(err)) {
        if (line.empty() || line[0] != '[') {
            kept += line + "\n";
        }
    }
    return kept;
}

std::string squareVideo(double seconds, const std::string& from, const std::string& to) {
    return "-f lavfi -i " + shellQuoted("color=gray:s=160x120:r=25:d=" + std::to_string(seconds) +
                                        ",drawbox=enable=between(t\\," + from + "\\," + to +
                                        "):x=10:y=10:w=40:h=40:c=red:t=fill");
}

std::string beep(double seconds, const std::string& from, const std::string& to) {
    return "-f lavfi -i " +
           shellQuoted("aevalsrc=if(between(t\\," + from + "\\," + to +
                       ")\\,0.5*sin(2*PI*440*t)\\,0):s=8000:d=" + std::to_string(seconds));
}

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

std::function<bool(const std::string&)> made(const std::string& arguments) {
    return [arguments](const std::string& dir) { return ffmpeg(dir, arguments); };
}

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

void ClipsTest::expectRows(const std::vector<Row>& rows) {
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

}  // namespace cliptest
