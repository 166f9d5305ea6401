// Per-frame cost of the detector at common video sizes, on frames that are no motion (the
// usual case: a still scene) and on frames that are saved as snapshots.
// Run: build/tests/detector_bench

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "FrameDetector.h"
#include "TestSupport.h"

namespace {

class DiscardLog : public pelmora::RunLog {
public:
    void write(pelmora::LogKind, const std::string&) override {}
};

cv::Mat noisyScene(cv::Size size, int seed) {
    cv::Mat scene(size, CV_8UC3);
    cv::RNG(seed).fill(scene, cv::RNG::UNIFORM, 60, 70);
    return scene;
}

void stillScene(benchmark::State& state) {
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    testsupport::TempDir tmp;
    pelmora::VideoJob job("bench.avi", tmp.path());
    pelmora::FrameDetector detector;
    DiscardLog log;
    const cv::Mat scene = noisyScene(size, 1);
    cv::Mat frame;
    long long index = 0;
    detector.allocateImages(scene);
    for (auto _ : state) {
        scene.copyTo(frame);
        detector.processFrame(frame, 20, pelmora::FrameTime::fromRate(index, index * 1000, 25.0),
                              job, false, log);
        ++index;
    }
    state.SetItemsProcessed(state.iterations());
}

void everyFrameSaved(benchmark::State& state) {
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    testsupport::TempDir tmp;
    pelmora::VideoJob job("bench.avi", tmp.path());
    pelmora::FrameDetector detector;
    DiscardLog log;
    const cv::Mat scenes[] = {noisyScene(size, 1), noisyScene(size, 1) + cv::Scalar::all(100)};
    cv::Mat frame;
    long long index = 0;
    for (auto _ : state) {
        scenes[index % 2].copyTo(frame);
        detector.processFrame(frame, 20, pelmora::FrameTime::fromRate(index, index * 1000, 25.0),
                              job, false, log);
        ++index;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(stillScene)->Args({320, 240})->Args({640, 480})->Args({1280, 720})->Args({1920, 1080});
BENCHMARK(everyFrameSaved)->Args({640, 480})->Args({1920, 1080});
BENCHMARK_MAIN();
