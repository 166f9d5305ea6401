// Per-frame cost of the detector at common video sizes, on frames that are no motion (the
// usual case: a still scene) and on frames that trigger and become the reference.
// Run: build/tests/detector_bench

#include <benchmark/benchmark.h>

#include <opencv2/imgproc.hpp>

#include "FrameDetector.h"
#include "TestSupport.h"

namespace {

cv::Mat noisyScene(cv::Size size, int seed) {
    cv::Mat scene(size, CV_8UC3);
    cv::RNG(seed).fill(scene, cv::RNG::UNIFORM, 60, 70);
    return scene;
}

// Arguments: width, height, and 1 when every frame differs enough to trigger.
void processFrame(benchmark::State& state) {
    const cv::Size size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const bool everyFrameSaved = state.range(2) != 0;
    pelmora::FrameDetector detector;
    const cv::Mat still = noisyScene(size, 1);
    const cv::Mat scenes[] = {still, everyFrameSaved ? still + cv::Scalar::all(100) : still};
    detector.setReference(still);
    cv::Mat frame;
    long long index = 0;
    for (auto _ : state) {
        scenes[index % 2].copyTo(frame);
        if (detector.triggers(detector.measure(frame, 20))) {
            detector.takeAsReference(frame);
        }
        ++index;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(processFrame)
    ->ArgNames({"width", "height", "saved"})
    ->Args({320, 240, 0})
    ->Args({640, 480, 0})
    ->Args({1280, 720, 0})
    ->Args({1920, 1080, 0})
    ->Args({640, 480, 1})
    ->Args({1920, 1080, 1});
BENCHMARK_MAIN();
