// Makes the sample clip: a still, textured garden-like scene with sensor-like noise, crossed
// once by a ball for about two seconds, as a low-rate camera would record it. At a threshold
// of 20 the detector keeps a handful of frames: the first one, the crossing, and the frame
// after the ball has gone.

#include <cmath>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kFps = 4.0;
constexpr int kFrames = 40;  // ten seconds
constexpr int kCrossingStart = 16;
constexpr int kCrossingFrames = 8;
constexpr double kNoiseSigma = 3.0;

cv::Mat makeScene() {
    cv::Mat scene(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double grass = 0.5 + 0.25 * std::sin(x * 0.21) * std::cos(y * 0.17) +
                                 0.15 * std::sin((x + 2 * y) * 0.05);
            const bool sky = y < kHeight / 3;
            scene.at<cv::Vec3b>(y, x) =
                sky ? cv::Vec3b(static_cast<uchar>(200 + 20 * std::sin(x * 0.02)), 170, 130)
                    : cv::Vec3b(static_cast<uchar>(40 * grass), static_cast<uchar>(90 + 80 * grass),
                                static_cast<uchar>(50 + 40 * grass));
        }
    }
    cv::rectangle(scene, cv::Rect(40, 60, 60, 100), cv::Scalar(60, 80, 120), cv::FILLED);
    cv::rectangle(scene, cv::Rect(230, 90, 50, 70), cv::Scalar(90, 90, 90), cv::FILLED);
    return scene;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s OUTPUT.avi\n", argv[0]);
        return 2;
    }
    cv::VideoWriter writer(argv[1], cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps,
                           cv::Size(kWidth, kHeight), true);
    if (!writer.isOpened()) {
        std::fprintf(stderr, "Cannot write %s\n", argv[1]);
        return 1;
    }
    cv::RNG random(20261207);
    const cv::Mat scene = makeScene();
    cv::Mat frame;
    cv::Mat noise(kHeight, kWidth, CV_16SC3);
    for (int index = 0; index < kFrames; ++index) {
        scene.copyTo(frame);
        const int step = index - kCrossingStart;
        if (step >= 0 && step < kCrossingFrames) {
            const int x = -20 + (kWidth + 40) * step / (kCrossingFrames - 1);
            cv::circle(frame, cv::Point(x, 170), 18, cv::Scalar(30, 60, 220), cv::FILLED,
                       cv::LINE_AA);
        }
        random.fill(noise, cv::RNG::NORMAL, 0.0, kNoiseSigma);
        cv::Mat noisy;
        frame.convertTo(noisy, CV_16SC3);
        noisy += noise;
        noisy.convertTo(frame, CV_8UC3);
        writer.write(frame);
    }
    return 0;
}
