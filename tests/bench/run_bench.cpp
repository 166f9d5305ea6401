// Whole runs of pelmora-scan (threshold 20) on clips this program makes itself, against the
// floor: FFmpeg's demuxing and decoding alone, threaded as the program's reader is, with no
// conversion or copy of the pictures (decode_only, a process that loads nothing else):
//   - a still 1280 x 720 MPEG-4 scene of one minute with five brief moments of motion: the
//     run's frames per second against the floor's, and the imaging library's video capture
//     decoding the same file beside them;
//   - the still scene again with --clips, copying each event's packets into a clip, against
//     the run without clips (aimed at no more than 5 % longer), and with --clips encode;
//   - the same scene at 1920 x 1080 in H.264, 30 s, made with the ffmpeg command: the run's
//     frames per second against the floor's;
//   - one second of 320 x 240: a whole run, starting and ending the process included, against
//     decode_only on the same clip;
//   - a 768 x 576 clip of one minute with motion in every frame, so every frame is saved: the
//     run against a plain serial loop of the imaging library's calls, one frame after another;
//   - the still scene at one and at ten minutes: the run's peak resident memory;
//   - one video in two stretches, scanned by two processes at once and then joined, against one
//     run, with the share of the frames the join scans again: the still scene, the clip that
//     moves in every frame, and a scene that moves only at its start, so that the second
//     stretch never meets the one run and is scanned again whole;
//   - the sweep of every setting, on the still 1920 x 1080 H.264 scene and the 768 x 576 clip
//     that moves in every frame: thresholds 10 to 50 and 0 to 50 at trigger sizes 10, 100 and
//     1,000 in one pass, against one run at threshold 20 (aimed at no more than 2.5 x and 12 x
//     its time, against 123 x and 153 x for separate runs), with their peak resident memory and
//     the most frames the sweep held as references at once;
//   - a batch of sixteen 8-second 1280 x 720 H.264 clips in one pelmora-scan, by default
//     (a video for each processor at once) and one video after another, against decoding them
//     alone as many at once as the machine has processors, each in a decode_only of its own;
//   - an hour of a still 1280 x 720 H.264 scene with five moments of motion: the run with
//     --digest against the plain run (aimed at no more than 1.5 x), with their peak resident
//     memory;
//   - a day of two cameras whose events take turns: the day's digest of their MPEG-TS files
//     against that of the same streams remuxed into MP4.
// Every figure is the best of a few repetitions, each in a process of its own, measured in this
// one run of the benchmark. Nothing is asserted.
// Run: build/tests/run_bench [repetitions]    (or: run_bench clips DIR, to keep the clips;
//      run_bench stretches [repetitions], for the stretches alone;
//      run_bench sweeps [repetitions], for the sweeps alone; run_bench batch [repetitions],
//      for the batch alone; run_bench digest [repetitions], for the digest alone;
//      run_bench day [repetitions], for the day's digest alone; run_bench objects
//      [repetitions], for the objects detector's speed alone; run_bench quality, for the
//      labelled benchmark of both detectors alone, see QualityFigures.cpp; run_bench search
//      [repetitions], for the object index and its search alone, see SearchFigures.cpp)

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
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>
#include <vector>

#include "QualityFigures.h"
#include "SearchFigures.h"

// After the standard headers: FFmpeg's want their integer constant macros in C++.
extern "C" {
#include <libavutil/avutil.h>
}

#include "ClipWriter.h"
#include "FolderNames.h"
#include "StatusLine.h"

#include "BenchClips.h"
#include "BenchRuns.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace bench;

void splitFigures(const std::string& scan, const std::vector<std::string>& videos, int repetitions,
                  const std::string& out) {
    const char* names[] = {"still 1280 x 720, 1 min", "every frame moves, 768 x 576, 1 min",
                           "moves at the start only, 1280 x 720, 1 min"};
    std::printf("One video in two stretches at once, then joined, against one run\n");
    for (std::size_t i = 0; i < videos.size(); ++i) {
        const Measure one = best({scan, "-q", "-t", "20", "-o", out, videos[i]}, repetitions, out);
        const SplitMeasure split = bestSplit(scan, videos[i], repetitions, out);
        std::printf("  %s\n", names[i]);
        std::printf(
            "    one run %7.2f s; stretches %.2f s + join %.2f s = %.2f x one run; "
            "%.1f %% of the frames scanned again\n",
            one.seconds, split.stretches, split.join, (split.stretches + split.join) / one.seconds,
            split.scannedAgain * 100.0);
    }
}

// The most references a sweep held at once, as its page says; 0 where it does not.
long long referencesHeld(const std::string& page) {
    const std::string text = testsupport::fileBytes(page);
    const std::string key = "References at once</span><span class=\"value\">at most ";
    const std::string::size_type at = text.find(key);
    return at == std::string::npos ? 0 : std::atoll(text.c_str() + at + key.size());
}

// One run at threshold 20 against the sweeps of every setting, each in one pass.
void sweepFigures(const std::string& scan, const std::vector<std::string>& videos, int repetitions,
                  const std::string& out) {
    const char* names[] = {"still 1920 x 1080 H.264, 30 s", "every frame moves, 768 x 576, 1 min"};
    const struct {
        const char* range;
        int settings;
    } sweeps[] = {{"10:50", 41 * 3}, {"0:50", 51 * 3}};
    std::printf(
        "Every setting in one pass (--sweep, triggers 10, 100 and 1,000) against one run\n");
    for (std::size_t i = 0; i < videos.size(); ++i) {
        const Measure one = best({scan, "-q", "-t", "20", "-o", out, videos[i]}, repetitions, out);
        std::printf("  %s\n", names[i]);
        std::printf("    one run at threshold 20 %7.2f s   %.2f processors busy   %6.1f MiB\n",
                    one.seconds, one.processors(), static_cast<double>(one.peakKiB) / 1024.0);
        for (const auto& sweep : sweeps) {
            const Measure swept = best({scan, "-q", "--sweep", sweep.range, "--sweep-triggers",
                                        "10,100,1000", "--report", "-o", out, videos[i]},
                                       repetitions, out);
            std::printf(
                "    --sweep %-5s (%3d settings) %7.2f s   %.2f processors busy   %6.1f MiB   "
                "%.2f x one run, against %d x for separate runs; references held at once: %lld\n",
                sweep.range, sweep.settings, swept.seconds, swept.processors(),
                static_cast<double>(swept.peakKiB) / 1024.0, swept.seconds / one.seconds,
                sweep.settings, referencesHeld(out + "/" + pelmora::kSweepReportName));
        }
    }
    std::printf("\n");
}

// An hour of a still 1280 x 720 scene with five moments of motion, H.264 as a camera
// leaves it: colour bars, which the ffmpeg command draws and encodes far faster than frames
// piped to it, with a square standing on them for three seconds each time (its coming and its
// going are an event each, whose stretches merge into one).
bool makeHourWithEvents(const std::string& path) {
    std::string moments;
    for (int minute = 10; minute <= 50; minute += 10) {
        moments += (moments.empty() ? "" : "+") + std::string("between(t,") +
                   std::to_string(minute * 60) + "," + std::to_string(minute * 60 + 3) + ")";
    }
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -nostats -y -f lavfi -i "
        "smptehdbars=s=1280x720:r=25:d=3600 -vf \"drawbox=enable='" +
        moments +
        "':x='mod(t*300,1100)':y=300:w=120:h=120:c=red:t=fill\" -c:v libx264 -preset veryfast "
        "-crf 23 -pix_fmt yuv420p '" +
        path + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "cannot make %s with the ffmpeg command\n", path.c_str());
        return false;
    }
    return true;
}

// The digest of the hour against a plain run of it, and decoding it alone.
void digestFigures(const std::string& scan, const std::string& floor, const std::string& video,
                   int repetitions, const std::string& out) {
    const Measure decode = best({floor, video}, repetitions, out);
    const Measure run = best({scan, "-q", "-t", "20", "-o", out, video}, repetitions, out);
    const Measure digest =
        best({scan, "-q", "-t", "20", "--digest", "-o", out, video}, repetitions, out);
    std::printf("An hour of a still 1280 x 720 H.264 scene with five moments of motion\n");
    std::printf("  decoding alone   %8.2f s   %.2f processors busy   %6.1f MiB\n", decode.seconds,
                decode.processors(), static_cast<double>(decode.peakKiB) / 1024.0);
    std::printf("  pelmora-scan     %8.2f s   %.2f processors busy   %6.1f MiB\n", run.seconds,
                run.processors(), static_cast<double>(run.peakKiB) / 1024.0);
    std::printf(
        "  ... --digest     %8.2f s   %.2f processors busy   %6.1f MiB   %.3f x the plain run; "
        "digest.mp4 %.1f MiB\n\n",
        digest.seconds, digest.processors(), static_cast<double>(digest.peakKiB) / 1024.0,
        digest.seconds / run.seconds,
        static_cast<double>(fs::file_size(out + "/" + pelmora::kDigestName)) / 1048576.0);
}

// The still 1920 x 1080 H.264 scene with the objects detector against the classic one at
// threshold 20, and their peak memory, also on the scene of ten minutes at 720p.
void objectsFigures(const std::string& scan, const std::string& floor, const std::string& hd,
                    const std::string& longer, int repetitions, const std::string& out) {
    const double frames = static_cast<double>(frameCount(hd));
    const Measure decode = best({floor, hd}, repetitions, out);
    const Measure classic = best({scan, "-q", "-t", "20", "-o", out, hd}, repetitions, out);
    const Measure objects =
        best({scan, "-q", "--detector", "objects", "-o", out, hd}, repetitions, out);
    std::printf("Still 1920 x 1080 H.264, 30 s (%.0f frames): the objects detector\n", frames);
    std::printf("  decoding alone   %8.1f frames/s   %.2f processors busy\n",
                frames / decode.seconds, decode.processors());
    std::printf("  classic, -t 20   %8.1f frames/s   %.2f processors busy   %6.1f MiB\n",
                frames / classic.seconds, classic.processors(),
                static_cast<double>(classic.peakKiB) / 1024.0);
    std::printf(
        "  objects          %8.1f frames/s   %.2f processors busy   %6.1f MiB   %.3f x the "
        "classic run's time\n",
        frames / objects.seconds, objects.processors(),
        static_cast<double>(objects.peakKiB) / 1024.0, objects.seconds / classic.seconds);
    if (!longer.empty()) {
        const Measure minute = best({scan, "-q", "--detector", "objects", "-o", out, hd}, 1, out);
        const Measure tenMinutes =
            best({scan, "-q", "--detector", "objects", "-o", out, longer}, 1, out);
        std::printf("  peak memory: %.1f MiB for 30 s of 1080p, %.1f MiB for 10 min of 720p\n",
                    static_cast<double>(minute.peakKiB) / 1024.0,
                    static_cast<double>(tenMinutes.peakKiB) / 1024.0);
    }
    std::printf("\n");
}

// A day of two 20-minute 640 x 360 cameras whose events take turns, in MPEG-TS as recorders
// leave it and remuxed into MP4, each scanned into a day folder: the day's digest of the TS day
// against that of the same streams in MP4.
void dayDigestFigures(const std::string& scan, const std::string& tmp, int repetitions,
                      const std::string& out) {
    std::vector<std::string> days;
    for (const std::string container : {"ts", "mp4"}) {
        const std::string day = tmp + "/day-" + container;
        for (const int camera : {1, 2}) {
            std::string moments;
            for (int minute = camera * 2 - 1; minute < 20; minute += 4) {
                moments += (moments.empty() ? "" : "+") + std::string("between(t,") +
                           std::to_string(minute * 60) + "," + std::to_string(minute * 60 + 3) +
                           ")";
            }
            const std::string folder = tmp + "/" + container + "/cam" + std::to_string(camera);
            fs::create_directories(folder);
            const std::string ts = tmp + "/ts/cam" + std::to_string(camera) + "/20240501_080000.ts";
            const std::string command =
                container == "ts"
                    ? "ffmpeg -hide_banner -loglevel error -nostats -y -f lavfi -i "
                      "smptehdbars=s=640x360:r=25:d=1200 -vf \"drawbox=enable='" +
                          moments +
                          "':x='mod(t*200,520)':y=120:w=80:h=80:c=red:t=fill\" -c:v libx264 "
                          "-preset veryfast -g 50 -pix_fmt yuv420p -f mpegts '" +
                          ts + "'"
                    : "ffmpeg -hide_banner -loglevel error -nostats -y -i '" + ts + "' -c copy '" +
                          folder + "/20240501_080000.mp4'";
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "cannot make the %s day with the ffmpeg command\n",
                             container.c_str());
                return;
            }
        }
        runChild({scan, "-q", "--events", "--time-zone", "UTC", "-o", day, tmp + "/" + container});
        days.push_back(day);
    }
    const Measure ts = best({scan, "--overview-from", days[0], "--digest", "--time-zone", "UTC"},
                            repetitions, out);
    const Measure mp4 = best({scan, "--overview-from", days[1], "--digest", "--time-zone", "UTC"},
                             repetitions, out);
    std::printf("The day's digest of two 20-minute 640 x 360 cameras whose events take turns\n");
    std::printf("  in MP4           %8.2f s   %.2f processors busy   %6.1f MiB\n", mp4.seconds,
                mp4.processors(), static_cast<double>(mp4.peakKiB) / 1024.0);
    std::printf("  in MPEG-TS       %8.2f s   %.2f processors busy   %6.1f MiB   %.2f x MP4\n\n",
                ts.seconds, ts.processors(), static_cast<double>(ts.peakKiB) / 1024.0,
                ts.seconds / mp4.seconds);
}

// The batch of clips in one pelmora-scan, by default and one video after another, against
// decoding them alone, as many at once as the machine has processors; each the best of the
// repetitions, each repetition into an emptied folder.
void batchFigures(const std::string& scan, const std::string& floor,
                  const std::vector<std::string>& clips, int repetitions, const std::string& out) {
    const int processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::vector<std::string>> decodes;
    for (const std::string& clip : clips) {
        decodes.push_back({floor, clip});
    }
    std::vector<std::string> batch = {scan, "-q", "-t", "20", "-o", out};
    batch.insert(batch.end(), clips.begin(), clips.end());
    std::vector<std::string> serial = {scan, "-q", "-t", "20", "--videos-at-once", "1", "-o", out};
    serial.insert(serial.end(), clips.begin(), clips.end());
    Measure decode;
    Measure together;
    Measure oneByOne;
    for (int i = 0; i < repetitions; ++i) {
        // In turn, so that a change in the machine's load falls on all three alike.
        const Measure eachDecode = runPooled(decodes, processors);
        const Measure eachTogether = best(batch, 1, out);
        const Measure eachOneByOne = best(serial, 1, out);
        if (i == 0 || eachDecode.seconds < decode.seconds) {
            decode = eachDecode;
        }
        if (i == 0 || eachTogether.seconds < together.seconds) {
            together = eachTogether;
        }
        if (i == 0 || eachOneByOne.seconds < oneByOne.seconds) {
            oneByOne = eachOneByOne;
        }
    }
    const double frames =
        static_cast<double>(frameCount(clips.front())) * static_cast<double>(clips.size());
    std::printf("A batch of %zu 1280 x 720 H.264 clips of 8 s (%.0f frames)\n", clips.size(),
                frames);
    std::printf("  decoding alone, %d at once  %6.2f s  %7.1f frames/s   %.2f processors busy\n",
                processors, decode.seconds, frames / decode.seconds, decode.processors());
    std::printf(
        "  pelmora-scan             %6.2f s  %7.1f frames/s   %.2f processors busy   "
        "%.2f x decoding alone\n",
        together.seconds, frames / together.seconds, together.processors(),
        decode.seconds / together.seconds);
    std::printf(
        "  ... --videos-at-once 1   %6.2f s  %7.1f frames/s   %.2f processors busy   "
        "%.2f x decoding alone\n",
        oneByOne.seconds, frames / oneByOne.seconds, oneByOne.processors(),
        decode.seconds / oneByOne.seconds);
    // What running several at once costs in memory, against one video at a time.
    std::printf("  peak resident memory: %.1f MiB, one at a time %.1f MiB\n",
                static_cast<double>(together.peakKiB) / 1024.0,
                static_cast<double>(oneByOne.peakKiB) / 1024.0);
    // The figure the batch is judged by, on a line of its own for scripts and eyes alike.
    std::printf(
        "Batch ratio: %.2f (pelmora-scan's throughput over decoding alone; "
        "one at a time %.2f)\n\n",
        decode.seconds / together.seconds, decode.seconds / oneByOne.seconds);
}

// Sixteen 8-second clips of 1280 x 720 H.264 in folder: one made, the others copies of it.
std::vector<std::string> makeBatchClips(const std::string& folder) {
    constexpr int kClips = 16;
    const std::string first = folder + "/batch-01.mp4";
    if (!makeH264Clip(first, {1280, 720}, 8 * static_cast<int>(kFps))) {
        return {};
    }
    std::vector<std::string> clips = {first};
    for (int i = 2; i <= kClips; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/batch-%02d.mp4", i);
        clips.push_back(folder + name);
        fs::copy_file(first, clips.back(), fs::copy_options::overwrite_existing);
    }
    return clips;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string self = fs::canonical("/proc/self/exe").string();
    if (argc == 3 && std::string(argv[1]) == "capture") {
        return captureOnly(argv[2]);
    }
    if (argc == 4 && std::string(argv[1]) == "serial") {
        return serialLoop(argv[2], argv[3]);
    }
    // "clips DIR" only makes the clips, into DIR, and keeps them: for a profiler, say.
    const bool clipsOnly = argc == 3 && std::string(argv[1]) == "clips";
    const bool stretchesOnly = argc >= 2 && std::string(argv[1]) == "stretches";
    const bool sweepsOnly = argc >= 2 && std::string(argv[1]) == "sweeps";
    const bool batchOnly = argc >= 2 && std::string(argv[1]) == "batch";
    const bool digestOnly = argc >= 2 && std::string(argv[1]) == "digest";
    const bool dayOnly = argc >= 2 && std::string(argv[1]) == "day";
    const bool objectsOnly = argc >= 2 && std::string(argv[1]) == "objects";
    const bool qualityOnly = argc >= 2 && std::string(argv[1]) == "quality";
    const bool searchOnly = argc >= 2 && std::string(argv[1]) == "search";
    const int repetitionsAt = stretchesOnly || sweepsOnly || batchOnly || digestOnly || dayOnly ||
                                      objectsOnly || searchOnly
                                  ? 2
                                  : 1;
    const int repetitions =
        argc > repetitionsAt && !clipsOnly ? std::max(1, std::atoi(argv[repetitionsAt])) : 3;

    char pattern[] = "/tmp/pelmora-bench-XXXXXX";
    if (!clipsOnly && ::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string tmp = clipsOnly ? std::string(argv[2]) : std::string(pattern);
    const std::string still = tmp + "/still-720p-1min.mp4";
    const std::string stillLong = tmp + "/still-720p-10min.mp4";
    const std::string stillHd = tmp + "/still-1080p-h264-30s.mp4";
    const std::string second = tmp + "/still-240p-1s.mp4";
    const std::string busy = tmp + "/busy-576p-1min.mp4";
    const std::string startOnly = tmp + "/moves-at-start-720p-1min.mp4";
    const std::string hour = tmp + "/still-720p-h264-1h-five-events.mp4";
    // The snapshots go to memory where there is such a folder: this measures the program, and a
    // disk's writeback would otherwise decide the figures of the runs that save every frame.
    char outPattern[] = "/dev/shm/pelmora-bench-XXXXXX";
    const bool inMemory =
        !clipsOnly && fs::is_directory("/dev/shm") && ::mkdtemp(outPattern) != nullptr;
    const std::string outRoot = inMemory ? std::string(outPattern) : tmp;
    const std::string out = outRoot + "/snapshots";
    std::printf("Making clips in %s ...\n", tmp.c_str());
    std::fflush(stdout);
    if (qualityOnly) {
        const int status = qualityFigures(PELMORA_SCAN_PATH, tmp);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return status;
    }
    if (searchOnly) {
        const int status = searchFigures(PELMORA_SCAN_PATH, tmp, repetitions);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return status;
    }
    if (objectsOnly) {
        if (!makeH264Clip(stillHd, {1920, 1080}, 30 * 25)) {
            return 1;
        }
        objectsFigures(PELMORA_SCAN_PATH, DECODE_ONLY_PATH, stillHd, std::string(), repetitions,
                       out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }
    if (dayOnly) {
        dayDigestFigures(PELMORA_SCAN_PATH, tmp, repetitions, out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }
    if (digestOnly) {
        if (!makeHourWithEvents(hour)) {
            return 1;
        }
    } else if (sweepsOnly) {
        if (!makeClip(busy, {768, 576}, 60 * 25, true) ||
            !makeH264Clip(stillHd, {1920, 1080}, 30 * 25)) {
            return 1;
        }
    } else if (!batchOnly && (!makeClip(still, {1280, 720}, 60 * 25, false) ||
                              !makeClip(busy, {768, 576}, 60 * 25, true) ||
                              !makeClip(startOnly, {1280, 720}, 60 * 25, false, true))) {
        return 1;
    }
    if (!stretchesOnly && !sweepsOnly && !batchOnly && !digestOnly &&
        (!makeClip(stillLong, {1280, 720}, 600 * 25, false) ||
         !makeH264Clip(stillHd, {1920, 1080}, 30 * 25) ||
         !makeClip(second, {320, 240}, 25, false))) {
        return 1;
    }
    std::vector<std::string> batchClips;
    if (!stretchesOnly && !sweepsOnly && !digestOnly) {
        batchClips = makeBatchClips(tmp);
        if (batchClips.empty()) {
            return 1;
        }
    }
    if (clipsOnly) {
        return 0;
    }
    const std::string scan = PELMORA_SCAN_PATH;
    const std::string floor = DECODE_ONLY_PATH;
    const std::string host = machine();
    if (!host.empty()) {
        std::printf("%s\n", host.c_str());
    }
    std::printf("%u processors; best of %d runs each; snapshots written to %s\n\n",
                std::thread::hardware_concurrency(), repetitions, outRoot.c_str());

    if (digestOnly) {
        digestFigures(scan, floor, hour, repetitions, out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }
    if (sweepsOnly) {
        sweepFigures(scan, {stillHd, busy}, repetitions, out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }
    if (stretchesOnly) {
        splitFigures(scan, {still, busy, startOnly}, repetitions, out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }
    if (batchOnly) {
        batchFigures(scan, floor, batchClips, repetitions, out);
        fs::remove_all(tmp);
        fs::remove_all(outRoot);
        return 0;
    }

    // Every run below starts by loading its program's libraries: FFmpeg's alone for decode_only,
    // the imaging library's as well for pelmora-scan and for this program's own loops.
    const Measure startUp = best({scan, "--version"}, repetitions, out);
    std::printf("Starting pelmora-scan (--version alone) %.2f s\n\n", startUp.seconds);

    const double stillFrames = static_cast<double>(frameCount(still));
    const Measure decode = best({floor, still}, repetitions, out);
    const Measure capture = best({self, "capture", still}, repetitions, out);
    const Measure run = best({scan, "-q", "-t", "20", "-o", out, still}, repetitions, out);
    std::printf("Still 1280 x 720 MPEG-4, 1 min (%.0f frames, %zu snapshots)\n", stillFrames,
                snapshotCount(out));
    std::printf("  decoding alone   %8.1f frames/s   %.2f processors busy\n",
                stillFrames / decode.seconds, decode.processors());
    std::printf(
        "  OpenCV capture   %8.1f frames/s   %.2f processors busy   %.2f x decoding alone\n",
        stillFrames / capture.seconds, capture.processors(), decode.seconds / capture.seconds);
    std::printf(
        "  pelmora-scan     %8.1f frames/s   %.2f processors busy   %.2f x decoding alone\n\n",
        stillFrames / run.seconds, run.processors(), decode.seconds / run.seconds);

    const Measure copied =
        best({scan, "-q", "-t", "20", "--clips", "-o", out, still}, repetitions, out);
    const std::size_t clips = clipCount(out);
    const Measure encoded =
        best({scan, "-q", "-t", "20", "--clips", "encode", "-o", out, still}, repetitions, out);
    std::printf("Clips of the still 1280 x 720 scene's events (%zu clips)\n", clips);
    std::printf("  pelmora-scan     %8.1f frames/s   %.2f processors busy\n",
                stillFrames / run.seconds, run.processors());
    std::printf(
        "  ... --clips      %8.1f frames/s   %.2f processors busy   %.3f x the time without\n",
        stillFrames / copied.seconds, copied.processors(), copied.seconds / run.seconds);
    std::printf(
        "  ... --clips encode %6.1f frames/s   %.2f processors busy   %.3f x the time without\n\n",
        stillFrames / encoded.seconds, encoded.processors(), encoded.seconds / run.seconds);

    const double hdFrames = static_cast<double>(frameCount(stillHd));
    const Measure hdDecode = best({floor, stillHd}, repetitions, out);
    const Measure hdRun = best({scan, "-q", "-t", "20", "-o", out, stillHd}, repetitions, out);
    std::printf("Still 1920 x 1080 H.264, 30 s (%.0f frames, %zu snapshots)\n", hdFrames,
                snapshotCount(out));
    std::printf("  decoding alone   %8.1f frames/s   %.2f processors busy\n",
                hdFrames / hdDecode.seconds, hdDecode.processors());
    std::printf(
        "  pelmora-scan     %8.1f frames/s   %.2f processors busy   %.2f x decoding alone\n\n",
        hdFrames / hdRun.seconds, hdRun.processors(), hdDecode.seconds / hdRun.seconds);

    // Here the processes' start and end are most of the time, and are meant to be measured.
    const double secondFrames = static_cast<double>(frameCount(second));
    const Measure secondDecode = best({floor, second}, repetitions, out);
    const Measure secondRun = best({scan, "-q", "-t", "20", "-o", out, second}, repetitions, out);
    std::printf("One second of 320 x 240 MPEG-4 (%.0f frames), the whole process\n", secondFrames);
    std::printf("  decode_only      %8.3f s\n", secondDecode.seconds);
    std::printf("  pelmora-scan     %8.3f s          %.2f x decode_only\n\n", secondRun.seconds,
                secondRun.seconds / secondDecode.seconds);

    const double busyFrames = static_cast<double>(frameCount(busy));
    const Measure serial = best({self, "serial", busy, out}, repetitions, out);
    const Measure busyRun = best({scan, "-q", "-t", "20", "-o", out, busy}, repetitions, out);
    const Measure busyOne =
        best({scan, "-q", "-t", "20", "-j", "1", "-o", out, busy}, repetitions, out);
    std::printf("Every frame saved, 768 x 576 (%.0f frames)\n", busyFrames);
    std::printf("  serial loop      %8.1f frames/s   %.2f processors busy\n",
                busyFrames / serial.seconds, serial.processors());
    std::printf(
        "  pelmora-scan     %8.1f frames/s   %.2f processors busy   %.2f x the serial loop\n",
        busyFrames / busyRun.seconds, busyRun.processors(), serial.seconds / busyRun.seconds);
    std::printf(
        "  ... --jobs 1     %8.1f frames/s   %.2f processors busy   %.2f x the serial loop\n",
        busyFrames / busyOne.seconds, busyOne.processors(), serial.seconds / busyOne.seconds);
    std::printf("  CPU time per frame: serial loop %.2f ms, pelmora-scan %.2f ms\n\n",
                serial.cpuSeconds / busyFrames * 1000.0, busyRun.cpuSeconds / busyFrames * 1000.0);

    const Measure shortRun = best({scan, "-q", "-t", "20", "-o", out, still}, 1, out);
    const Measure longRun = best({scan, "-q", "-t", "20", "-o", out, stillLong}, 1, out);
    std::printf("Peak resident memory of pelmora-scan, still 1280 x 720\n");
    std::printf("  1 min            %8.1f MiB\n", static_cast<double>(shortRun.peakKiB) / 1024.0);
    std::printf("  10 min           %8.1f MiB   %.3f x the 1 min clip\n",
                static_cast<double>(longRun.peakKiB) / 1024.0,
                static_cast<double>(longRun.peakKiB) / static_cast<double>(shortRun.peakKiB));
    std::printf("\n");
    splitFigures(scan, {still, busy, startOnly}, repetitions, out);
    sweepFigures(scan, {stillHd, busy}, repetitions, out);
    batchFigures(scan, floor, batchClips, repetitions, out);
    if (makeHourWithEvents(hour)) {
        digestFigures(scan, floor, hour, repetitions, out);
    }
    dayDigestFigures(scan, tmp, repetitions, out);
    objectsFigures(scan, floor, stillHd, stillLong, repetitions, out);
    fs::remove_all(tmp);
    fs::remove_all(outRoot);
    return 0;
}
