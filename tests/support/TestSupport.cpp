#include "TestSupport.h"

#include <execinfo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <stdexcept>

#include "FolderNames.h"
#include "TextPattern.h"

namespace fs = std::filesystem;

namespace testsupport {

void TestHost::tell(const pelmora::RunMessage& message) {
    if (passLines) {
        pelmora::RunHost::tell(message);
        return;
    }
    kinds.push_back(message.logKind());
    lines.push_back(pelmora::messageLine(message) + "\n");
    messages.push_back(message);
}

std::string TestHost::text() const {
    std::string all;
    for (const std::string& line : lines) {
        all += line;
    }
    return all;
}

std::vector<ClipEncoding> clipEncodings(const std::vector<std::string>& names) {
    static const ClipEncoding table[] = {
        {"ffv1", "ffv1.avi", "-c:v ffv1 -g 10"},
        {"ffv1Planar444", "ffv1-444.mkv", "-c:v ffv1 -pix_fmt yuv444p"},
        {"h264WithBFrames", "h264.mp4", "-c:v libx264 -g 10 -bf 2 -pix_fmt yuv420p"},
        {"h264Cropped", "h264.mp4", "-c:v libx264 -crf 18 -pix_fmt yuv420p"},
        {"h264Planar422", "h264-422.mkv", "-c:v libx264 -crf 18 -pix_fmt yuv422p"},
        {"mpeg4", "mpeg4.avi", "-c:v mpeg4 -q:v 2 -pix_fmt yuv420p"},
        {"mjpegFullRange420", "mjpeg420.avi", "-c:v mjpeg -q:v 2 -pix_fmt yuvj420p"},
        {"mjpegFullRange422", "mjpeg422.avi", "-c:v mjpeg -q:v 2 -pix_fmt yuvj422p"},
    };
    std::vector<ClipEncoding> chosen;
    for (const std::string& name : names) {
        const auto found = std::find_if(std::begin(table), std::end(table),
                                        [&name](const ClipEncoding& e) { return e.name == name; });
        EXPECT_NE(found, std::end(table)) << "no clip encoding " << name;
        if (found != std::end(table)) {
            chosen.push_back(*found);
        }
    }
    return chosen;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "pelmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    // Below PATH_MAX the library cannot name what it would remove; rm walks by folder.
    if (fs::exists(dir, ignored)) {
        std::system(("rm -rf -- '" + dir + "'").c_str());
    }
}

bool writeVideo(const std::string& path, const std::vector<cv::Mat>& frames, double fps) {
    if (frames.empty()) {
        ADD_FAILURE() << "no frames for " << path;
        return false;
    }
    cv::VideoWriter writer(path, cv::VideoWriter::fourcc('F', 'F', 'V', '1'), fps,
                           frames.front().size(), true);
    if (!writer.isOpened()) {
        ADD_FAILURE() << "cannot write " << path;
        return false;
    }
    for (const cv::Mat& frame : frames) {
        writer.write(frame);
    }
    return true;
}

bool writeVideoWithFfmpeg(const std::string& path, const std::vector<cv::Mat>& frames, double fps,
                          const std::string& outputOptions) {
    if (frames.empty()) {
        ADD_FAILURE() << "no frames for " << path;
        return false;
    }
    const cv::Size size = frames.front().size();
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f rawvideo -pix_fmt bgr24 -s " +
        std::to_string(size.width) + "x" + std::to_string(size.height) + " -framerate " +
        std::to_string(fps) + " -i - " + outputOptions + " '" + path + "'";
    FILE* pipe = ::popen(command.c_str(), "w");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return false;
    }
    for (const cv::Mat& frame : frames) {
        const cv::Mat continuous = frame.isContinuous() ? frame : frame.clone();
        std::fwrite(continuous.data, 1, continuous.total() * continuous.elemSize(), pipe);
    }
    const int status = ::pclose(pipe);
    if (status != 0) {
        ADD_FAILURE() << command << " failed with status " << status;
        return false;
    }
    return true;
}

std::string commandOutput(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return text;
    }
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        text.append(buffer, got);
    }
    return ::pclose(pipe) == 0 ? text : std::string();
}

cv::Mat solidFrame(cv::Size size, const cv::Scalar& colour) {
    return cv::Mat(size, CV_8UC3, colour);
}

bool identical(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

std::vector<cv::Mat> knownMoments() {
    const cv::Mat black = solidFrame(cv::Size(64, 48), cv::Scalar::all(0));
    std::vector<cv::Mat> frames(85, black);
    for (int i = 5; i < 80; ++i) {
        const cv::Rect square = i == 5    ? cv::Rect(8, 8, 8, 8)
                                : i < 30  ? cv::Rect(40, 8, 8, 8)
                                : i == 30 ? cv::Rect(20, 28, 12, 12)
                                          : cv::Rect(44, 30, 12, 12);
        frames[static_cast<std::size_t>(i)] = withRect(black, square, cv::Scalar::all(255));
    }
    return frames;
}

cv::Mat withRect(const cv::Mat& base, const cv::Rect& rect, const cv::Scalar& colour) {
    cv::Mat copy = base.clone();
    cv::rectangle(copy, rect, colour, cv::FILLED);
    return copy;
}

int withFileSizeLimit(long long limit, const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0) {
        ADD_FAILURE() << "fork failed";
        return -1;
    }
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (::setrlimit(RLIMIT_FSIZE, &size) != 0) {
            std::_Exit(255);
        }
        // Without the test framework's exit handlers, which belong to the parent.
        std::_Exit(body());
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string makeFolderTooDeepToOpen(const std::string& dir) {
    const std::string name(200, 'd');
    std::string path = dir;
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // Each made relative to the one above it, which needs no long path.
    while (fd >= 0 && path.size() < PATH_MAX) {
        ::mkdirat(fd, name.c_str(), 0755);
        const int inner = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = inner;
        path += "/" + name;
    }
    if (fd < 0) {
        ADD_FAILURE() << "cannot make the folders below " << dir;
        return std::string();
    }
    ::close(fd);
    return path;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

OutputCapture::OutputCapture(int fd) : fd(fd) {
    std::string pattern = (fs::temp_directory_path() / "pelmora-stderr-XXXXXX").string();
    const int file = ::mkstemp(pattern.data());
    if (file < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    capturePath = pattern;
    std::fflush(nullptr);
    savedFd = ::dup(fd);
    ::dup2(file, fd);
    ::close(file);
}

OutputCapture::~OutputCapture() {
    finish();
}

std::string OutputCapture::finish() {
    if (!finished) {
        finished = true;
        std::fflush(nullptr);
        ::dup2(savedFd, fd);
        ::close(savedFd);
        std::ifstream in(capturePath, std::ios::binary);
        captured.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        std::remove(capturePath.c_str());
    }
    return captured;
}

namespace {

int crashStream = -1;

void crashed(int signal) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string said =
        std::string("*** ") + ::strsignal(signal) + " in " +
        (test != nullptr ? std::string(test->test_suite_name()) + "." + test->name()
                         : std::string("no test")) +
        "; backtrace:\n";
    ssize_t ignored = ::write(crashStream, said.data(), said.size());
    (void)ignored;
    void* frames[64];
    ::backtrace_symbols_fd(frames, ::backtrace(frames, 64), crashStream);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void tellCrashes() {
    crashStream = ::dup(STDERR_FILENO);
    // The first backtrace loads what it needs; in a handler it could not.
    void* frames[1];
    ::backtrace(frames, 1);
#if defined(__SANITIZE_ADDRESS__)
    // The address sanitizer says more of a bad address than a backtrace does.
    std::signal(SIGABRT, crashed);
#else
    for (const int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) {
        std::signal(signal, crashed);
    }
#endif
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> csvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    for (const char c : line) {
        if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string savedLines(const std::string& dir, const std::vector<std::string>& names) {
    std::string lines;
    for (const std::string& name : names) {
        lines += "[" + dir + "/" + name + "]\n";
    }
    return lines;
}

std::vector<std::string> snapshotFiles(const std::string& dir) {
    std::vector<std::string> names = listDir(dir);
    names.erase(
        std::remove_if(names.begin(), names.end(),
                       [](const std::string& name) { return !pelmora::isSnapshotFileName(name); }),
        names.end());
    return names;
}

std::string withoutTimeOfMaking(const std::string& report) {
    return pelmora::TextPattern(R"( on \d{4}-\d\d-\d\d \d\d:\d\d \w*)").replaced(report, "");
}

std::map<std::string, std::string> folderBytes(const std::string& dir, bool withFolders) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).string();
        if (!entry.is_regular_file()) {
            if (withFolders) {
                contents[name] = "a folder";
            }
            continue;
        }
        const std::string bytes = fileBytes(entry.path().string());
        contents[name] =
            entry.path().filename() == pelmora::kReportName ? withoutTimeOfMaking(bytes) : bytes;
    }
    return contents;
}

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace testsupport
