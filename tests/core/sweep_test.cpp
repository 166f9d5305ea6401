// The sweep of every setting at once against real runs of each setting alone: the snapshots it
// says each setting takes are the rows of that run's snapshots.csv, and its events those of the
// run's events.csv, on clips made to stress what makes settings differ.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "FrameDetector.h"
#include "TestSupport.h"
#include "TextFormat.h"
#include "VideoRun.h"

namespace {

using pelmora::SweepSetting;
using testsupport::TempDir;

constexpr double kFps = 25.0;

// A still, textured scene, as a camera sees a room.
cv::Mat scene(cv::Size size, int seed) {
    cv::RNG rng(static_cast<std::uint64_t>(seed));
    cv::Mat still(size, CV_8UC3);
    rng.fill(still, cv::RNG::UNIFORM, 40, 200);
    cv::GaussianBlur(still, still, cv::Size(5, 5), 0);
    return still;
}

// Fresh sensor noise on each frame, of up to amplitude steps in every channel.
cv::Mat noisy(const cv::Mat& still, cv::RNG& rng, int amplitude) {
    cv::Mat noise(still.size(), CV_8UC3);
    rng.fill(noise, cv::RNG::UNIFORM, 0, amplitude);
    cv::Mat frame;
    cv::add(still, noise, frame);
    return frame;
}

// Noise with a bright square crossing from frame 8 to 20 and a darker disc from 15 to 30, each
// moving by a few pixels a frame: two objects whose events overlap.
std::vector<cv::Mat> twoObjects(cv::Size size, int frames, int seed) {
    const cv::Mat still = scene(size, seed);
    cv::RNG rng(static_cast<std::uint64_t>(seed) + 1);
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame = noisy(still, rng, 8);
        if (i >= 8 && i <= 20) {
            cv::rectangle(frame, cv::Rect(2 + 3 * (i - 8), 6, 10, 10), cv::Scalar(235, 240, 245),
                          cv::FILLED);
        }
        if (i >= 15 && i <= 30) {
            cv::circle(frame, {size.width - 8 - 2 * (i - 15), size.height - 10}, 6,
                       cv::Scalar(30, 60, 90), cv::FILLED);
        }
        video.push_back(frame);
    }
    return video;
}

// The light rising by one step a frame, with little noise and a faint shadow passing late:
// each threshold's reference falls behind the light by its own amount.
std::vector<cv::Mat> slowLight(cv::Size size, int frames) {
    const cv::Mat still = scene(size, 7);
    cv::RNG rng(8);
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame = noisy(still + cv::Scalar::all(i), rng, 3);
        if (i >= frames - 10) {
            frame(cv::Rect(3 * (i - frames + 10), 20, 12, 12)) -= cv::Scalar::all(12);
        }
        video.push_back(frame);
    }
    return video;
}

// Strong noise: at low thresholds nearly every frame is a snapshot.
std::vector<cv::Mat> grainy(cv::Size size, int frames) {
    const cv::Mat still = scene(size, 11);
    cv::RNG rng(12);
    std::vector<cv::Mat> video;
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame = noisy(still, rng, 40);
        if (i >= 10 && i <= 16) {
            cv::circle(frame, {6 + 5 * (i - 10), 24}, 7, cv::Scalar(250, 250, 250), cv::FILLED);
        }
        video.push_back(frame);
    }
    return video;
}

// A snapshot as a run's snapshots.csv lists it, but for the file and whether it was saved: a
// sweep writes none.
std::string listed(long long frame, long long timeMs, int changedPixels, long long streamMs,
                   bool start) {
    return pelmora::formatText("%lld,%lld,%s,%d,%lld,%d", frame, timeMs,
                               pelmora::timecode(timeMs).c_str(), changedPixels, streamMs,
                               start ? 1 : 0);
}

// The rows of a run's snapshots.csv, in that form.
std::vector<std::string> snapshotRows(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> rows;
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line.substr(0, line.find('\r')));
        for (std::string field; std::getline(split, field, ',');) {
            fields.push_back(field);
        }
        // frame, time_ms, timecode, changed_pixels, file, saved, stream_ms, start
        rows.push_back(fields[0] + "," + fields[1] + "," + fields[2] + "," + fields[3] + "," +
                       fields[6] + "," + fields[7]);
    }
    return rows;
}

long long dataRows(const std::string& path) {
    std::ifstream in(path);
    long long lines = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
    }
    return lines - 1;
}

// A tally that also keeps every snapshot of every setting, as a run's list would hold it.
class ListingTally : public pelmora::SweepTally {
public:
    using SweepTally::SweepTally;

    void settingSnapshot(std::size_t setting, const pelmora::SnapshotOutcome& snapshot) override {
        lists[setting].push_back(listed(snapshot.frame, snapshot.timeMs, snapshot.changedPixels,
                                        snapshot.streamMs, snapshot.againstBlack));
        SweepTally::settingSnapshot(setting, snapshot);
    }

    std::map<std::size_t, std::vector<std::string>> lists;
};

struct SweepClip {
    const char* name;
    std::string video;
    pelmora::WatchedRegion watched;
    std::vector<int> thresholds;
    std::vector<int> triggers;
};

std::vector<int> range(int first, int last) {
    std::vector<int> values;
    for (int value = first; value <= last; ++value) {
        values.push_back(value);
    }
    return values;
}

// Runs the sweep of the clip's settings once, then each setting alone, and compares them.
void expectSweepEqualsRuns(const SweepClip& clip, const TempDir& tmp) {
    SCOPED_TRACE(clip.name);
    std::vector<SweepSetting> settings;
    for (const int threshold : clip.thresholds) {
        for (const int trigger : clip.triggers) {
            settings.push_back({threshold, trigger});
        }
    }
    constexpr long long kGapMs = 200;
    ListingTally tally(settings, kGapMs);
    pelmora::VideoRunRequest sweep;
    sweep.run.videoPath = clip.video;
    sweep.run.watched = clip.watched;
    sweep.records.eventGapMs = kGapMs;
    sweep.sweep = pelmora::SweepRequest{settings, {}, false, &tally};
    testsupport::TestHost sweepHost;
    pelmora::FrameDetector sweepDetector;
    const pelmora::VideoRunResult swept = pelmora::runVideo(sweepDetector, sweep, sweepHost);
    ASSERT_EQ(swept.report.status, pelmora::RunReport::Status::Finished) << sweepHost.text();
    ASSERT_EQ(swept.sweepRows.size(), settings.size());

    for (std::size_t i = 0; i < settings.size(); ++i) {
        const SweepSetting setting = settings[i];
        SCOPED_TRACE(
            pelmora::formatText("threshold %d, trigger %d", setting.threshold, setting.minPixels));
        const std::string dir = tmp.file(
            pelmora::formatText("%s-%d-%d", clip.name, setting.threshold, setting.minPixels));
        pelmora::VideoRunRequest run;
        run.run = {clip.video, dir, setting.threshold, 1};
        run.run.minPixels = setting.minPixels;
        run.run.watched = clip.watched;
        run.records.events = true;
        run.records.eventGapMs = kGapMs;
        testsupport::TestHost host;
        pelmora::FrameDetector detector;
        const pelmora::VideoRunResult result = pelmora::runVideo(detector, run, host);
        ASSERT_FALSE(result.failed) << host.text();
        EXPECT_EQ(tally.lists[i], snapshotRows(dir + "/snapshots.csv"));
        EXPECT_EQ(swept.sweepRows[i].snapshots, result.report.snapshotsWritten);
        EXPECT_EQ(swept.sweepRows[i].events, dataRows(dir + "/events.csv"));
    }
}

TEST(Sweep, EveryThresholdAtTwoTriggerSizesFindsWhatARunOfEachFinds) {
    TempDir tmp;
    const std::string video = tmp.file("two-objects.mkv");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, twoObjects({96, 72}, 36, 3), kFps,
                                                  "-c:v ffv1 -pix_fmt yuv420p"));
    expectSweepEqualsRuns({"two objects in noise", video, {}, range(0, 50), {10, 100}}, tmp);
}

TEST(Sweep, ASampleOfSettingsFindsWhatARunOfEachFindsOnEveryKindOfClip) {
    TempDir tmp;
    const cv::Size size(64, 48);
    const std::vector<int> sample = {0, 1, 2, 3, 5, 8, 13, 21, 34, 50};
    const std::vector<int> triggers = {0, 25};

    const std::string light = tmp.file("light.mkv");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(light, slowLight(size, 40), kFps,
                                                  "-c:v ffv1 -pix_fmt yuv420p"));
    // Pictures in the imaging library's own format, which are converted whole, never by rows.
    const std::string rough = tmp.file("grainy.avi");
    ASSERT_TRUE(testsupport::writeVideo(rough, grainy(size, 30), kFps));
    const std::string watchedVideo = tmp.file("watched.mkv");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(watchedVideo, twoObjects(size, 34, 5), kFps,
                                                  "-c:v ffv1 -pix_fmt yuv420p"));
    // Only the left half counts: the square crosses into it, the disc stays out of it.
    cv::Mat mask = cv::Mat::zeros(size, CV_8UC1);
    mask(cv::Rect(0, 0, size.width / 2, size.height)).setTo(255);
    const pelmora::WatchedRegion leftHalf = pelmora::WatchedRegion::fromImage(mask, "left.png");
    // Two recordings joined end to end, the second larger: every setting starts again from
    // black at the new size.
    const std::string first = tmp.file("first.ts");
    const std::string second = tmp.file("second.ts");
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(first, twoObjects(size, 22, 9), kFps,
                                                  "-c:v libx264 -qp 0 -pix_fmt yuv420p"));
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(second, twoObjects({96, 72}, 22, 10), kFps,
                                                  "-c:v libx264 -qp 0 -pix_fmt yuv420p"));
    const std::string joined = tmp.file("joined.ts");
    ASSERT_EQ(std::system(("cat '" + first + "' '" + second + "' > '" + joined + "'").c_str()), 0);

    const SweepClip clips[] = {
        {"a slow light change", light, {}, sample, triggers},
        {"low thresholds snapshot every frame", rough, {}, sample, triggers},
        {"a watched region", watchedVideo, leftHalf, sample, triggers},
        {"a change of frame size", joined, {}, sample, triggers},
    };
    for (const SweepClip& clip : clips) {
        expectSweepEqualsRuns(clip, tmp);
    }
}

TEST(Sweep, HoldsOneReferenceForAllSettingsThatShareTheirLastSnapshotAndWritesOnlyItsTable) {
    TempDir tmp;
    const std::string video = tmp.file("still.mkv");
    const cv::Mat still = scene({64, 48}, 2);
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(video, std::vector<cv::Mat>(20, still), kFps,
                                                  "-c:v ffv1 -pix_fmt yuv420p"));
    // A folder with an earlier run's snapshot and lists, which a sweep leaves as they are.
    const std::string dir = tmp.file("out");
    std::filesystem::create_directories(dir);
    for (const char* name : {"IMG00000000.jpg", "snapshots.csv", "report.html"}) {
        std::ofstream(dir + "/" + name) << "earlier";
    }
    pelmora::VideoRunRequest request;
    request.run.videoPath = video;
    request.run.outputDir = dir;
    request.records.report = true;
    request.sweep = pelmora::SweepRequest{pelmora::sweepSettings(0, 50, {10, 100, 1000}), {}};
    testsupport::TestHost host;
    pelmora::FrameDetector detector;
    const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
    ASSERT_FALSE(result.failed) << host.text();
    // Every setting saves the first frame, against black, and nothing after it.
    EXPECT_EQ(result.mostReferences, 1U);
    for (const pelmora::SweepRow& row : result.sweepRows) {
        EXPECT_EQ(row.snapshots, 1);
        EXPECT_EQ(row.events, 0);
    }
    EXPECT_EQ(testsupport::listDir(dir),
              (std::vector<std::string>{"IMG00000000.jpg", "report.html", "snapshots.csv",
                                        "sweep.csv", "sweep.html"}));
    std::ifstream earlier(dir + "/snapshots.csv");
    std::string text;
    std::getline(earlier, text);
    EXPECT_EQ(text, "earlier");
}

}  // namespace
