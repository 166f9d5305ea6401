#include "BenchClips.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>
#include <vector>

#include "QualityFigures.h"

// After the standard headers: FFmpeg's want their integer constant macros in C++.
extern "C" {
#include <libavutil/avutil.h>
}

#include "ClipWriter.h"
#include "FolderNames.h"
#include "StatusLine.h"

namespace bench {

namespace {

// A still, textured scene with sensor-like noise, and a bright disc on the frames that move.
class Scene {
public:
    // firstMomentOnly: the scene moves in its first moment of motion and never again.
    Scene(cv::Size size, bool everyFrameMoves, bool firstMomentOnly = false)
        : size(size), everyFrameMoves(everyFrameMoves), firstMomentOnly(firstMomentOnly) {
        cv::RNG rng(1);
        still.create(size, CV_8UC3);
        rng.fill(still, cv::RNG::UNIFORM, 40, 200);
        cv::GaussianBlur(still, still, cv::Size(5, 5), 0);
        // A cycle of noise frames: fresh noise for every frame would make the clips slow to make.
        for (cv::Mat& each : noise) {
            each.create(size, CV_8UC3);
            rng.fill(each, cv::RNG::UNIFORM, 0, 6);
        }
    }

    const cv::Mat& frame(int i) {
        cv::add(still, noise[static_cast<std::size_t>(i) % noise.size()], picture);
        // Five moments of motion a minute, each of ten frames.
        const bool moves =
            everyFrameMoves || ((i < 300 || !firstMomentOnly) && i % 300 >= 100 && i % 300 < 110);
        if (moves) {
            cv::circle(picture, {(i * 37) % size.width, (i * 23) % size.height}, size.height / 8,
                       cv::Scalar(250, 250, 250), cv::FILLED);
        }
        return picture;
    }

private:
    cv::Size size;
    bool everyFrameMoves;
    bool firstMomentOnly;
    cv::Mat still;
    std::vector<cv::Mat> noise = std::vector<cv::Mat>(16);
    cv::Mat picture;
};

}  // namespace

bool makeClip(const std::string& path, cv::Size size, int frames, bool everyFrameMoves,
              bool firstMomentOnly) {
    cv::VideoWriter writer(path, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('m', 'p', '4', 'v'), kFps,
                           size, true);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    Scene scene(size, everyFrameMoves, firstMomentOnly);
    for (int i = 0; i < frames; ++i) {
        writer.write(scene.frame(i));
    }
    return true;
}

// The imaging library writes no H.264 here; the ffmpeg command takes the raw frames on its
// standard input and encodes them with libx264 as a camera's files commonly are.
bool makeH264Clip(const std::string& path, cv::Size size, int frames) {
    std::string quoted = "'";
    for (const char c : path) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    quoted += "'";
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostats -y -f rawvideo -pixel_format bgr24 "
        "-video_size " +
        std::to_string(size.width) + "x" + std::to_string(size.height) + " -framerate " +
        std::to_string(static_cast<int>(kFps)) +
        " -i - -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p " + quoted;
    // An encoder that dies early must fail the clip, not end this program on a broken pipe; the
    // runs started later must not inherit the ignored signal.
    std::signal(SIGPIPE, SIG_IGN);
    FILE* encoder = ::popen(command.c_str(), "w");
    bool written = encoder != nullptr;
    Scene scene(size, false);
    for (int i = 0; written && i < frames; ++i) {
        const cv::Mat& frame = scene.frame(i);
        const std::size_t bytes = frame.total() * frame.elemSize();
        written = std::fwrite(frame.data, 1, bytes, encoder) == bytes;
    }
    const bool encoded = encoder != nullptr && ::pclose(encoder) == 0;
    std::signal(SIGPIPE, SIG_DFL);
    if (!written || !encoded) {
        std::fprintf(stderr, "cannot make %s with the ffmpeg command\n", path.c_str());
        return false;
    }
    return true;
}

// The modes this program runs in a child process of its own.
int captureOnly(const std::string& video) {
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    cv::Mat frame;
    long long frames = 0;
    while (capture.read(frame)) {
        ++frames;
    }
    return frames > 0 ? 0 : 1;
}

// One frame after another with the library's calls: the detector as a plain serial loop.
int serialLoop(const std::string& video, const std::string& dir) {
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    const double fps = capture.get(cv::CAP_PROP_FPS);
    cv::Mat frame, current, reference, mask;
    for (long long index = 0; capture.read(frame); ++index) {
        if (reference.empty()) {
            reference = cv::Mat::zeros(frame.size(), CV_8UC3);
        }
        frame.copyTo(current);
        cv::absdiff(current, reference, mask);
        cv::threshold(mask, mask, 20, 255.0, cv::THRESH_BINARY);
        cv::erode(mask, mask, cv::Mat());
        const cv::Scalar sums = cv::sum(mask);
        const double busiest = std::max({sums[0], sums[1], sums[2]});
        const std::string status = pelmora::statusLine(static_cast<double>(index) / fps,
                                                       static_cast<int>(busiest / 255), 20);
        cv::putText(mask, status, {20, 20}, cv::FONT_HERSHEY_PLAIN, 1.0, {255, 255, 0}, 1);
        cv::putText(frame, status, {20, 20}, cv::FONT_HERSHEY_PLAIN, 1.0, {0, 255, 255}, 1);
        if (busiest > 2550.0) {
            const auto ms = static_cast<long long>(static_cast<double>(index) * 1000.0 / fps + 0.5);
            cv::imwrite(pelmora::joinPath(dir, pelmora::snapshotFileName(ms)), frame);
            current.copyTo(reference);
        }
    }
    return 0;
}

}  // namespace bench
