#pragma once

// The benchmark's clips, made to order: still textured scenes with noise, and moving ones.

#include <opencv2/core.hpp>
#include <string>

namespace bench {

constexpr double kFps = 25.0;

bool makeClip(const std::string& path, cv::Size size, int frames, bool everyFrameMoves,
              bool firstMomentOnly = false);

// The imaging library writes no H.264 here; the ffmpeg command takes the raw frames on its
// standard input and encodes them with libx264 as a camera's files commonly are.
bool makeH264Clip(const std::string& path, cv::Size size, int frames);

// The modes this program runs in a child process of its own.
int captureOnly(const std::string& video);

// One frame after another with the library's calls: the detector as a plain serial loop.
int serialLoop(const std::string& video, const std::string& dir);

}  // namespace bench
