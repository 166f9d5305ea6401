// The object index and the search of it, on an hour of 1920 x 1080 H.264 footage filmed from
// 14:00 (a 30-second yard, two people crossing it, looped 120 times without re-encoding):
//   - the scan with the objects detector, once, and the index it left: its size;
//   - the search of a region (where the people stand) of the whole hour, against the scan:
//     aimed at no more than a second;
//   - the search with --snapshots of the hour within 30 s of clock time, against the same search
//     of the 30 s clip's own index: the time grows with the snapshots, not the video's length;
//   - writing the index: every frame of the hour's index encoded again and written, as the run
//     does beside its frame loop, against the scan's time (aimed at no more than 1.05 x);
//   - the README's worked example: a day folder of three cameras, each an hour of the yard at
//     640 x 360 from 14:00, scanned as one batch, then searched for where the people walk
//     between 14:15 and 14:45 with their snapshots, and an overview of the answer.

#include "SearchFigures.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchRuns.h"
#include "FileOutput.h"
#include "ObjectIndex.h"
#include "SceneFootage.h"

namespace {

namespace fs = std::filesystem;
using bench::Measure;

// The scene at 1080p through the ffmpeg command as H.264, as a camera would leave it.
bool makeYard(const std::string& path) {
    testsupport::SceneRecipe scene;
    scene.size = {1920, 1080};
    scene.seconds = 30.0;
    scene.objects = {testsupport::crossing(scene, 3.0, 12.0, {90, 220}),
                     testsupport::crossing(scene, 16.0, 27.0, {120, 300})};
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostats -y -f rawvideo -pixel_format bgr24 "
        "-video_size 1920x1080 -framerate 25 -i - -c:v libx264 -preset veryfast -crf 23 "
        "-pix_fmt yuv420p '" +
        path + "'";
    std::signal(SIGPIPE, SIG_IGN);
    FILE* encoder = ::popen(command.c_str(), "w");
    bool written = encoder != nullptr;
    for (long long i = 0; written && i < 30 * 25; ++i) {
        const cv::Mat frame = testsupport::sceneFrame(scene, i);
        const std::size_t bytes = frame.total() * frame.elemSize();
        written = std::fwrite(frame.data, 1, bytes, encoder) == bytes;
    }
    const bool encoded = encoder != nullptr && ::pclose(encoder) == 0;
    std::signal(SIGPIPE, SIG_DFL);
    return written && encoded;
}

Measure bestOf(const std::vector<std::string>& command, int repetitions) {
    Measure best;
    for (int i = 0; i < repetitions; ++i) {
        const Measure run = bench::runChild(command);
        if (i == 0 || run.seconds < best.seconds) {
            best = run;
        }
    }
    return best;
}

// Every frame of the index encoded again and written, as a run does; the seconds it took.
double indexWriting(const std::string& indexPath, const std::string& out) {
    pelmora::ObjectIndex index;
    if (!pelmora::readObjectIndex(indexPath, index).empty()) {
        return -1.0;
    }
    const auto start = std::chrono::steady_clock::now();
    pelmora::ObjectIndexWriter writer;
    writer.begin(index.head);
    for (const pelmora::IndexedFrame& frame : index.frames) {
        writer.add(frame);
    }
    const std::string bytes = writer.finish();
    if (!pelmora::replaceFile(out, bytes.data(), bytes.size()).empty()) {
        return -1.0;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The README's worked example, timed: its commands and what each took.
bool dayFigures(const std::string& scan, const std::string& clip, const std::string& dir) {
    const std::string small = dir + "/yard-360p.mp4";
    const std::string day = dir + "/day";
    if (bench::runChild({"/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", clip,
                         "-vf", "scale=640:360", "-c:v", "libx264", "-preset", "veryfast", small})
            .seconds <= 0.0) {
        return false;
    }
    for (const char* camera : {"door", "drive", "garden"}) {
        fs::create_directories(dir + "/cameras/" + camera);
        bench::runChild({"/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                         "-stream_loop", "119", "-i", small, "-c", "copy",
                         dir + "/cameras/" + camera + "/20240501_140000.mp4"});
    }
    const std::vector<std::string> scanDay = {
        scan, "-q", "--time-zone", "UTC", "--detector", "objects", "-o", day, dir + "/cameras"};
    const std::vector<std::string> searchDay = {
        scan,        "-q",          "--time-zone", "UTC",
        "--search",  day,           "--region",    "0,200 640,200 640,300 0,300",
        "--between", "14:15",       "14:45",       "--name",
        "walk",      "--snapshots", "--overview"};
    // The same question without its pictures: the events alone.
    std::vector<std::string> eventsOnly = searchDay;
    eventsOnly.erase(std::find(eventsOnly.begin(), eventsOnly.end(), "--snapshots"));
    eventsOnly[std::find(eventsOnly.begin(), eventsOnly.end(), "walk") - eventsOnly.begin()] =
        "walk-events";
    const Measure scanned = bench::runChild(scanDay);
    const Measure asked = bench::runChild(eventsOnly);
    const Measure searched = bench::runChild(searchDay);
    std::size_t snapshots = 0;
    for (const char* camera : {"door", "drive", "garden"}) {
        // The answer keeps the batch's layout: a folder per camera, one per video in it.
        snapshots += bench::snapshotCount(day + "/search-walk/" + camera + "/20240501_140000");
    }
    std::printf("A day of three cameras, an hour of 640 x 360 each from 14:00\n");
    std::printf("  pelmora-scan --detector objects -o day cameras/       %8.1f s\n",
                scanned.seconds);
    std::printf(
        "  pelmora-scan --search day --region ... --between 14:15 14:45 --overview "
        "%6.2f s\n",
        asked.seconds);
    std::printf(
        "  the same with --snapshots                              %6.2f s: %zu snapshots, "
        "overview.html %s\n\n",
        searched.seconds, snapshots,
        fs::exists(day + "/search-walk/overview.html") ? "written" : "missing");
    return fs::exists(day + "/search-walk/overview.html");
}

}  // namespace

int searchFigures(const std::string& scan, const std::string& dir, int repetitions) {
    const std::string clip = dir + "/yard_20240501_140000.mp4";
    const std::string hour = dir + "/hour/yard_20240501_140000.mp4";
    fs::create_directories(dir + "/hour");
    if (!makeYard(clip) ||
        bench::runChild({"/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                         "-stream_loop", "119", "-i", clip, "-c", "copy", hour})
                .seconds <= 0.0) {
        std::fprintf(stderr, "cannot make the yard's clips with the ffmpeg command\n");
        return 1;
    }
    const double frames = static_cast<double>(bench::frameCount(hour));
    const std::string clipScan = dir + "/clip-scan";
    const std::string hourScan = dir + "/hour-scan";
    const std::vector<std::string> zone = {"-q", "--time-zone", "UTC"};
    const auto with = [&zone](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin() + 1, zone.begin(), zone.end());
        return arguments;
    };
    bench::runChild(with({scan, "--detector", "objects", "-o", clipScan, clip}));
    const Measure scanned =
        bench::runChild(with({scan, "--detector", "objects", "-o", hourScan, hour}));
    const std::string hourIndex = hourScan + "/objects.idx";
    if (!fs::exists(hourIndex) || !fs::exists(clipScan + "/objects.idx")) {
        std::fprintf(stderr, "a scan left no object index\n");
        return 1;
    }
    // Where the people's feet go, across the picture's lower middle.
    const std::vector<std::string> region = {"--region", "0,600 1920,600 1920,900 0,900"};
    const auto search = [&](const std::string& folder, std::vector<std::string> question) {
        std::vector<std::string> command = {scan, "--search", folder, "--name", "bench"};
        command.insert(command.end(), region.begin(), region.end());
        command.insert(command.end(), question.begin(), question.end());
        return bestOf(with(command), repetitions);
    };
    const Measure hourSearch = search(hourScan, {});
    const Measure hourWindow =
        search(hourScan, {"--snapshots", "--between", "14:30:00", "14:30:30"});
    const Measure clipWindow = search(clipScan, {"--snapshots"});
    const double writing = indexWriting(hourIndex, dir + "/again.idx");

    std::printf("An hour of 1920 x 1080 H.264 (%.0f frames), the objects detector's index\n",
                frames);
    std::printf("  the scan              %8.2f s   %6.1f MiB\n", scanned.seconds,
                static_cast<double>(scanned.peakKiB) / 1024.0);
    std::printf("  objects.idx           %8.2f MiB\n",
                static_cast<double>(fs::file_size(hourIndex)) / 1048576.0);
    std::printf("  search of a region    %8.3f s   %6.1f MiB   1/%.0f of the scan's time\n",
                hourSearch.seconds, static_cast<double>(hourSearch.peakKiB) / 1024.0,
                scanned.seconds / hourSearch.seconds);
    std::printf(
        "  --snapshots, 30 s of the hour   %6.3f s (%zu snapshots), of the 30 s clip alone "
        "%6.3f s (%zu): %.2f x\n",
        hourWindow.seconds, bench::snapshotCount(hourScan + "/search-bench"), clipWindow.seconds,
        bench::snapshotCount(clipScan + "/search-bench"), hourWindow.seconds / clipWindow.seconds);
    std::printf("  writing the index     %8.3f s: %.4f x the scan's time with it\n\n", writing,
                scanned.seconds / (scanned.seconds - writing));
    const bool dayDone = dayFigures(scan, clip, dir);
    return writing < 0.0 || !dayDone ? 1 : 0;
}
