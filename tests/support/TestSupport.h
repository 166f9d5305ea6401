#pragma once

#include <functional>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "RunRequest.h"

namespace testsupport {

// The host of a run under a test: keeps the run's lines (or, with passLines, lets them go to the
// standard error stream as a front end's do) and its progress, and stops the run after frame
// stopAfter, counting from 0 (never when it is negative).
class TestHost : public pelmora::RunHost {
public:
    explicit TestHost(int stopAfter = -1, bool passLines = false)
        : stopAfter(stopAfter), passLines(passLines) {}

    void tell(const pelmora::RunMessage& message) override;
    void progress(int percent) override { percents.push_back(percent); }
    bool stopAfterFrame() override { return frames++ == stopAfter; }

    // The lines kept, one after another.
    std::string text() const;

    std::vector<std::string> lines;  // each with its line end
    std::vector<pelmora::LogKind> kinds;
    std::vector<pelmora::RunMessage> messages;
    std::vector<int> percents;
    int frames = 0;

private:
    int stopAfter;
    bool passLines;
};

// A way of encoding a test clip with the FFmpeg tool (see writeVideoWithFfmpeg), by name: the
// file name's extension chooses the container, and the options the codec and its settings.
struct ClipEncoding {
    const char* name;
    const char* file;
    const char* options;
};
// The encodings of that name, from one table of them all; a name not in it fails the test.
std::vector<ClipEncoding> clipEncodings(const std::vector<std::string>& names);

// A fresh folder under /tmp, removed with everything in it when the object goes away, however
// deep.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

// Writes the frames as a lossless FFV1 AVI, so that every pixel value reads back exactly.
// Fails the test and returns false when it cannot.
bool writeVideo(const std::string& path, const std::vector<cv::Mat>& frames, double fps = 25.0);

// Writes the frames with the FFmpeg command-line tool, for containers and rates that the
// imaging library's writer cannot make: outputOptions go before the path (codec, container
// settings). Fails the test and returns false when it cannot.
bool writeVideoWithFfmpeg(const std::string& path, const std::vector<cv::Mat>& frames, double fps,
                          const std::string& outputOptions);

// What a shell command prints on its standard output; empty when it fails.
std::string commandOutput(const std::string& command);

cv::Mat solidFrame(cv::Size size, const cv::Scalar& colour);
// Whether two pictures have the same size, type and every pixel value.
bool identical(const cv::Mat& a, const cv::Mat& b);

// 85 frames of 64 x 48 on black, known snapshots at 25 frames per second and threshold 20: an
// 8 x 8 white square appears at frame 5 (36 pixels survive erosion) and jumps at 6 (36 + 36); a
// 12 x 12 one replaces it at 30 (36 + 100) and jumps at 31 (100 + 100); it goes at 80 (100).
std::vector<cv::Mat> knownMoments();
// A copy of base with a filled rectangle in colour.
cv::Mat withRect(const cv::Mat& base, const cv::Rect& rect, const cv::Scalar& colour);

// Runs body in a child process whose files cannot grow past limit bytes, a full disk that needs
// no privileges: a write that would cross the limit writes what fits and the next one fails
// with "File too large" (SIGXFSZ is ignored there). Returns body's result (0..255), or -1 when
// the child did not exit by itself.
int withFileSizeLimit(long long limit, const std::function<int()>& body);

// Makes folders inside one another below dir until the path of the deepest is too long for the
// system to open (PATH_MAX), a folder that cannot be read even by root; returns that path.
std::string makeFolderTooDeepToOpen(const std::string& dir);

// The names in a folder, sorted; empty when it does not exist.
std::vector<std::string> listDir(const std::string& path);
// The file's bytes, or "" when it cannot be read.
std::string fileBytes(const std::string& path);
// Writes bytes as the whole of the file, made or emptied first.
void writeFile(const std::string& path, const std::string& bytes);
// A line of our lists split at its commas, one field at least; none of the fields compared
// holds a quoted comma.
std::vector<std::string> csvFields(const std::string& line);
// Each line of text with its '\n'; a last line without one as it is.
std::vector<std::string> splitLines(const std::string& text);
// The line a run says of each file it saved in dir, "[dir/name]", in the order given.
std::string savedLines(const std::string& dir, const std::vector<std::string>& names);
// The snapshots in a folder, sorted, without the lists, the report and the rest beside them.
std::vector<std::string> snapshotFiles(const std::string& dir);
// A report without its time of making, which names the minute it was made in: two runs a
// moment apart may straddle a minute.
std::string withoutTimeOfMaking(const std::string& report);
// Every file below dir by its path from dir, hidden ones too, with its bytes, a report's
// without its time of making; withFolders, every folder below it too, as "a folder".
std::map<std::string, std::string> folderBytes(const std::string& dir, bool withFolders = true);
// The text in single quotes for the shell, its own single quotes kept.
std::string shellQuoted(const std::string& text);

// Everything written to a standard stream (by file descriptor) while it lives.
class OutputCapture {
public:
    explicit OutputCapture(int fd);
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    // Stops capturing (once) and returns what was written.
    std::string finish();

private:
    int fd;
    int savedFd = -1;
    std::string capturePath;
    std::string captured;
    bool finished = false;
};

class StderrCapture : public OutputCapture {
public:
    StderrCapture() : OutputCapture(2) {}
};

// A crash (an abort, a bad address) prints the test that was running and a backtrace on the
// standard error stream as it was when this was called, since a test that captures that stream
// would otherwise take what it says down with it. Call once, at the start of main.
void tellCrashes();

}  // namespace testsupport
