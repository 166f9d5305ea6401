#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ClipPlan.h"
#include "ClipWriter.h"
#include "FolderNames.h"
#include "TestSupport.h"

namespace {

using pelmora::ClipMode;
using pelmora::ClipOutcome;
using pelmora::ClipStretch;
using testsupport::TempDir;

pelmora::MotionEvent event(int number, long long startMs, long long endMs) {
    pelmora::MotionEvent made;
    made.number = number;
    made.startMs = startMs;
    made.endMs = endMs;
    return made;
}

TEST(ClipPlan, MarginsAroundEachEventAndOverlapsShareAStretch) {
    const struct {
        const char* name;
        std::vector<pelmora::MotionEvent> events;
        long long beforeMs;
        long long afterMs;
        std::vector<std::vector<long long>> stretches;  // start, end, then the events
    } rows[] = {
        {"none", {}, 2000, 2000, {}},
        {"the start stops at zero", {event(1, 1500, 1500)}, 2000, 2000, {{0, 3500, 1}}},
        {"a start exactly at zero", {event(1, 2000, 2500)}, 2000, 0, {{0, 2500, 1}}},
        {"one millisecond apart stay apart",
         {event(1, 1000, 1000), event(2, 5001, 6000)},
         2000,
         2000,
         {{0, 3000, 1}, {3001, 8000, 2}}},
        {"touching share",
         {event(1, 1000, 1000), event(2, 5000, 6000)},
         2000,
         2000,
         {{0, 8000, 1, 2}}},
        {"no margins, events apart",
         {event(1, 40, 80), event(2, 120, 120)},
         0,
         0,
         {{40, 80, 1}, {120, 120, 2}}},
        {"three in a chain",
         {event(1, 0, 0), event(2, 3000, 3000), event(3, 6000, 9000)},
         1500,
         1500,
         {{0, 10500, 1, 2, 3}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::vector<long long>> got;
        for (const ClipStretch& stretch :
             pelmora::planClipStretches(row.events, row.beforeMs, row.afterMs)) {
            std::vector<long long> flat = {stretch.startMs, stretch.endMs};
            flat.insert(flat.end(), stretch.events.begin(), stretch.events.end());
            got.push_back(flat);
        }
        EXPECT_EQ(got, row.stretches);
    }
}

TEST(ClipNames, NamedAfterTheFirstEventAndKnownAgain) {
    EXPECT_EQ(pelmora::clipFileName(1, ".mkv"), "EVENT0001.mkv");
    EXPECT_EQ(pelmora::clipFileName(12345, ".mp4"), "EVENT12345.mp4");
    const struct {
        const char* name;
        bool clip;
        bool temporary;
    } rows[] = {
        {"EVENT0001.mkv", true, false},        {"EVENT12345.mp4", true, false},
        {"EVENT0001.avi", true, false},        {"EVENT001.mkv", false, false},
        {"EVENT0001", false, false},           {"EVENT0001.", false, false},
        {"EVENT0001.MKV", true, false},        {"EVENTabcd.mkv", false, false},
        {"event0001.mkv", false, false},       {".EVENT0001.mkv.1234.part", false, true},
        {".EVENT0001.mkv.part", false, false}, {".IMG00000040.jpg.1234.part", false, false},
        {"EVENT0001.Mp4", true, false},        {".EVENT0001.MP4.1234.part", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(pelmora::isClipFileName(row.name), row.clip);
        EXPECT_EQ(pelmora::isClipTemporaryName(row.name), row.temporary);
    }
}

// Each stream's decoded frames as ffmpeg hashes them, in order: the pictures' and the sound's
// bytes, whatever their timestamps.
std::vector<std::vector<std::string>> frameHashes(const std::string& path) {
    std::vector<std::vector<std::string>> streams(2);
    std::istringstream lines(testsupport::commandOutput("ffmpeg -nostdin -loglevel error -i '" +
                                                        path + "' -f framemd5 -"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::size_t stream = std::stoul(line);
        if (stream < streams.size()) {
            streams[stream].push_back(line.substr(line.rfind(',') + 2));
        }
    }
    return streams;
}

// 100 frames of 64 x 48 at 25 per second, a keyframe every 10 (400 ms), with a square that
// moves at every frame so that each one differs, and a tone beside it.
bool writeSource(const std::string& path) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 100; ++i) {
        frames.push_back(
            testsupport::withRect(testsupport::solidFrame({64, 48}, cv::Scalar::all(0)),
                                  cv::Rect(i % 56, (i / 56) * 20, 8, 8), cv::Scalar(255, 128, 64)));
    }
    return testsupport::writeVideoWithFfmpeg(
        path, frames, 25.0,
        "-f lavfi -i sine=frequency=440:sample_rate=8000:duration=4 -c:v ffv1 -g 10 "
        "-c:a pcm_s16le -shortest");
}

pelmora::ClipResults cut(const std::string& video, const std::string& folder,
                         std::vector<ClipStretch> stretches, ClipMode mode) {
    pelmora::ClipRequest request;
    request.videoPath = video;
    request.folder = folder;
    request.stretches = std::move(stretches);
    request.mode = mode;
    return pelmora::writeClips(request);
}

TEST(ClipWriter, CopiedClipsStartAtTheKeyframeBeforeAndHoldTheSourcesFramesExactly) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    const std::vector<std::vector<std::string>> whole = frameHashes(source);
    ASSERT_EQ(whole[0].size(), 100u);
    ASSERT_FALSE(whole[1].empty());
    const struct {
        const char* name;
        long long startMs;
        long long endMs;
        long long clipStartMs;
        long long clipEndMs;
        bool sound;  // whether a block of it starts within the clip
    } rows[] = {
        {"from the first frame", 0, 0, 0, 0, true},
        {"on a keyframe", 400, 1200, 400, 1200, true},
        {"just after a keyframe", 441, 1000, 400, 1000, true},
        {"just before a keyframe", 799, 839, 400, 800, true},
        {"between two frames", 810, 830, 800, 800, false},
        {"past the last frame", 3000, 9999, 2800, 3960, true},
        {"the last frame only", 3960, 3960, 3600, 3960, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = tmp.file(row.name);
        std::filesystem::create_directories(folder);
        const pelmora::ClipResults results =
            cut(source, folder, {{{3}, row.startMs, row.endMs}}, ClipMode::Copy);
        ASSERT_EQ(results.clips.size(), 1u);
        const ClipOutcome& clip = results.clips[0];
        EXPECT_TRUE(clip.saved) << clip.error;
        EXPECT_EQ(results.lost, 0);
        EXPECT_EQ(clip.file, "EVENT0003.mkv");
        EXPECT_EQ(clip.startMs, row.clipStartMs);
        EXPECT_EQ(clip.endMs, row.clipEndMs);
        EXPECT_FALSE(clip.encoded);
        EXPECT_EQ(testsupport::listDir(folder), std::vector<std::string>{"EVENT0003.mkv"});
        const std::vector<std::vector<std::string>> got = frameHashes(folder + "/EVENT0003.mkv");
        const auto first = whole[0].begin() + row.clipStartMs / 40;
        EXPECT_EQ(got[0],
                  std::vector<std::string>(first, whole[0].begin() + row.clipEndMs / 40 + 1));
        // The sound of the same stretch: a run of the source's own blocks, from the first
        // that starts with the picture or after it.
        const auto at = std::search(whole[1].begin(), whole[1].end(), got[1].begin(), got[1].end());
        EXPECT_TRUE(got[1].empty() || at != whole[1].end());
        EXPECT_EQ(!got[1].empty(), row.sound);
        std::istringstream times(testsupport::commandOutput(
            "ffprobe -v error -show_entries stream=start_time -of csv=p=0 '" + folder +
            "/EVENT0003.mkv'"));
        std::string videoStart;
        std::string audioStart;
        std::getline(times, videoStart);
        std::getline(times, audioStart);
        EXPECT_EQ(videoStart, "0.000000");
        if (!got[1].empty()) {
            EXPECT_GE(std::stod(audioStart), 0.0);
            EXPECT_LT(std::stod(audioStart), 0.25);
        }
    }
}

TEST(ClipWriter, CopiedClipsOfPicturesShownOutOfOrderHaveNoGapAndDecodeAsTheSource) {
    TempDir tmp;
    const std::string source = tmp.file("source.mp4");
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 100; ++i) {
        frames.push_back(
            testsupport::withRect(testsupport::solidFrame({64, 48}, cv::Scalar::all(0)),
                                  cv::Rect(i % 56, 8, 8, 8), cv::Scalar::all(255)));
    }
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(source, frames, 25.0,
                                                  "-c:v libx264 -g 25 -bf 3 -pix_fmt yuv420p"));
    const std::vector<std::string> whole = frameHashes(source)[0];
    ASSERT_EQ(whole.size(), 100u);
    const struct {
        const char* name;
        long long startMs;
        long long endMs;
    } rows[] = {{"within a group", 1100, 1500}, {"across groups", 1000, 2999}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = tmp.file(row.name);
        std::filesystem::create_directories(folder);
        const pelmora::ClipResults results =
            cut(source, folder, {{{1}, row.startMs, row.endMs}}, ClipMode::Copy);
        ASSERT_EQ(results.clips.size(), 1u);
        const ClipOutcome& clip = results.clips[0];
        ASSERT_TRUE(clip.saved) << clip.error;
        EXPECT_EQ(clip.file, "EVENT0001.mp4");
        EXPECT_EQ(clip.startMs, 1000);
        EXPECT_GE(clip.endMs, row.endMs - 40);
        EXPECT_EQ(
            frameHashes(folder + "/" + clip.file)[0],
            std::vector<std::string>(whole.begin() + 25, whole.begin() + clip.endMs / 40 + 1));
    }
}

TEST(ClipWriter, EncodedClipsCutExactlyAtTheStretch) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    const struct {
        const char* name;
        long long startMs;
        long long endMs;
        long long frames;
        long long clipStartMs;
        long long clipEndMs;
        const char* lastTime;
        const char* codecs;  // the sound only where a block of it starts within the stretch
    } rows[] = {
        {"just after a keyframe", 441, 1000, 14, 480, 1000, "0.520000", "h264\naac\n"},
        {"a single frame", 1200, 1200, 1, 1200, 1200, "0.000000", "h264\n"},
        {"past the last frame", 3000, 9999, 25, 3000, 3960, "0.960000", "h264\naac\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = tmp.file(row.name);
        std::filesystem::create_directories(folder);
        const pelmora::ClipResults results =
            cut(source, folder, {{{1, 2}, row.startMs, row.endMs}}, ClipMode::Encode);
        ASSERT_EQ(results.clips.size(), 1u);
        const ClipOutcome& clip = results.clips[0];
        EXPECT_TRUE(clip.saved) << clip.error;
        EXPECT_TRUE(clip.encoded);
        EXPECT_EQ(clip.file, "EVENT0001.mp4");
        EXPECT_EQ(clip.startMs, row.clipStartMs);
        EXPECT_EQ(clip.endMs, row.clipEndMs);
        const std::string path = folder + "/EVENT0001.mp4";
        EXPECT_EQ(
            testsupport::commandOutput(
                "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + path + "'"),
            row.codecs);
        std::istringstream times(testsupport::commandOutput(
            "ffprobe -v error -select_streams v -show_entries frame=pts_time -of "
            "csv=p=0 '" +
            path + "'"));
        std::vector<std::string> frameTimes;
        for (std::string line; std::getline(times, line);) {
            if (!line.empty()) {
                frameTimes.push_back(line.substr(0, line.find(',')));
            }
        }
        ASSERT_EQ(static_cast<long long>(frameTimes.size()), row.frames);
        EXPECT_EQ(frameTimes.front(), "0.000000");
        EXPECT_EQ(frameTimes.back(), row.lastTime);
    }
}

// Sound MP4 does not take is encoded as AAC from whatever sample format its decoder gives:
// each row's codec decodes to another one, packed or planar, and the clip must still be heard.
TEST(ClipWriter, EncodedSoundOfEverySampleFormatIsHeard) {
    TempDir tmp;
    const char* const codecs[] = {"pcm_u8",    "pcm_s16le", "pcm_s24le", "pcm_s32le",
                                  "pcm_f32le", "pcm_f64le", "pcm_s64le", "adpcm_ima_wav",
                                  "wmav2",     "flac"};
    for (const char* codec : codecs) {
        SCOPED_TRACE(codec);
        const std::string folder = tmp.file(codec);
        std::filesystem::create_directories(folder);
        const std::string source = folder + "/source.mkv";
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(
            source,
            std::vector<cv::Mat>(50, testsupport::solidFrame({64, 48}, cv::Scalar::all(90))), 25.0,
            "-f lavfi -i sine=frequency=440:sample_rate=32000:duration=2 -c:v ffv1 -c:a " +
                std::string(codec) + " -shortest"));
        const pelmora::ClipResults results =
            cut(source, folder, {{{1, 1}, 0, 1500}}, ClipMode::Encode);
        ASSERT_EQ(results.clips.size(), 1u);
        ASSERT_TRUE(results.clips[0].saved) << results.clips[0].error;
        const std::string clip = folder + "/EVENT0001.mp4";
        EXPECT_EQ(testsupport::commandOutput("ffprobe -v error -select_streams a -show_entries "
                                             "stream=codec_name -of csv=p=0 '" +
                                             clip + "'"),
                  "aac\n");
        // The loudest sample of the clip's sound: a sine at a quarter of full scale, not silence.
        const std::string sound = testsupport::commandOutput("ffmpeg -nostdin -v error -i '" +
                                                             clip + "' -map 0:a -f s16le -ac 1 -");
        int loudest = 0;
        for (std::size_t i = 0; i + 1 < sound.size(); i += 2) {
            const auto sample = static_cast<int16_t>(static_cast<uint8_t>(sound[i]) |
                                                     (static_cast<uint8_t>(sound[i + 1]) << 8));
            loudest = std::max(loudest, std::abs(static_cast<int>(sample)));
        }
        EXPECT_GT(sound.size(), 32000u);
        EXPECT_GT(loudest, 4000);
    }
}

TEST(ClipWriter, ATruncatedSourceWithoutItsIndexGivesClipsOfWhatItHolds) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    const std::vector<std::vector<std::string>> whole = frameHashes(source);
    // Matroska keeps its index at the end: three quarters of the file have none, and end in
    // mid-stream.
    std::filesystem::resize_file(source, std::filesystem::file_size(source) * 3 / 4);
    const pelmora::ClipResults results =
        cut(source, tmp.path(), {{{1}, 1000, 2000}, {{2}, 2500, 9999}}, ClipMode::Copy);
    ASSERT_EQ(results.clips.size(), 2u);
    EXPECT_EQ(results.lost, 0);
    const ClipOutcome& last = results.clips[1];
    ASSERT_TRUE(last.saved) << last.error;
    EXPECT_EQ(last.startMs, 2400);
    EXPECT_GT(last.endMs, last.startMs);
    EXPECT_LT(last.endMs, 3960);
    const std::vector<std::vector<std::string>> got = frameHashes(tmp.file(last.file));
    const std::vector<std::string> expected(whole[0].begin() + 60,
                                            whole[0].begin() + last.endMs / 40 + 1);
    EXPECT_EQ(got[0], expected);
}

// Each stream's packets in file order, as their shown time in whole milliseconds and size.
std::vector<std::vector<std::pair<long long, long long>>> packets(const std::string& path) {
    std::vector<std::vector<std::pair<long long, long long>>> streams(3);
    std::istringstream lines(testsupport::commandOutput(
        "ffprobe -v error -show_entries packet=stream_index,pts_time,size -of csv=p=0 '" + path +
        "'"));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string stream, time, size;
        if (std::getline(fields, stream, ',') && std::getline(fields, time, ',') &&
            std::getline(fields, size, ',') && std::stoul(stream) < streams.size()) {
            streams[std::stoul(stream)].push_back(
                {std::llround(std::stod(time) * 1000.0), std::stoll(size)});
        }
    }
    return streams;
}

TEST(ClipWriter, CopiedClipsFarFromTheStartHoldEveryPacketOfTheirStretchFromEachStream) {
    TempDir tmp;
    // Two lines: one at the start, one in the stretch, nothing of the stream between them.
    std::ofstream(tmp.file("lines.srt")) << "1\n00:00:00,500 --> 00:00:01,000\nfirst\n\n"
                                         << "2\n00:00:06,200 --> 00:00:06,800\nsecond\n";
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 250; ++i) {
        frames.push_back(
            testsupport::withRect(testsupport::solidFrame({64, 48}, cv::Scalar::all(0)),
                                  cv::Rect(i % 56, (i / 56) * 8, 8, 8), cv::Scalar::all(255)));
    }
    const std::string sound = " -f lavfi -i sine=sample_rate=8000:duration=10 ";
    const struct {
        const char* name;
        std::string source;
        std::string options;
        long long startMs;
        long long endMs;
        bool skips;  // whether it reads less than half the video's packets
    } rows[] = {
        {"sound in Matroska", "a.mkv", sound + "-c:v ffv1 -g 10 -c:a pcm_s16le", 6000, 7000, true},
        {"a subtitle line far from the one before", "b.mkv",
         sound + "-i '" + tmp.file("lines.srt") +
             "' -map 0 -map 1 -map 2 -c:v ffv1 -g 10 -c:a pcm_s16le -c:s srt",
         6000, 7000, false},
        // Sound of three seconds at a time, muxed ahead of the pictures shown with it.
        {"sound muxed seconds ahead", "c.mkv",
         sound + "-c:v ffv1 -g 10 -c:a pcm_s16le -chunk_duration 3000000", 5000, 5500, false},
        {"MP4 with pictures out of order", "d.mp4",
         sound + "-c:v libx264 -g 25 -bf 3 -pix_fmt yuv420p -c:a aac", 6100, 7000, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = tmp.file(row.name);
        std::filesystem::create_directories(folder);
        const std::string source = folder + "/" + row.source;
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(source, frames, 25.0, row.options));
        pelmora::ClipRequest request;
        request.videoPath = source;
        request.folder = folder;
        request.stretches = {{{1}, row.startMs, row.endMs}};
        long long reads = 0;
        request.stopRequested = [&reads] { return ++reads < 0; };
        const pelmora::ClipResults results = pelmora::writeClips(request);
        ASSERT_EQ(results.clips.size(), 1u);
        const ClipOutcome& clip = results.clips[0];
        ASSERT_TRUE(clip.saved) << clip.error;
        const auto whole = packets(source);
        const auto got = packets(folder + "/" + clip.file);
        long long total = 0;
        for (std::size_t stream = 0; stream < whole.size(); ++stream) {
            SCOPED_TRACE(stream);
            total += static_cast<long long>(whole[stream].size());
            // Pictures from the clip's first to its last; the rest from its first picture to a
            // frame past its stretch or its last picture.
            const long long last =
                stream == 0 ? clip.endMs + 1 : std::max(row.endMs, clip.endMs) + 40;
            std::vector<long long> expected;
            for (const auto& [ms, size] : whole[stream]) {
                if (ms >= clip.startMs && ms < last) {
                    expected.push_back(size);
                }
            }
            std::vector<long long> sizes;
            for (const auto& each : got[stream]) {
                sizes.push_back(each.second);
            }
            EXPECT_FALSE(expected.empty() && !whole[stream].empty());
            EXPECT_EQ(sizes, expected);
        }
        if (row.skips) {
            EXPECT_LT(reads * 2, total);
        }
    }
}

TEST(ClipWriter, CopiedClipsKeepEveryStreamInTheSourcesContainerWhereItTakesThem) {
    TempDir tmp;
    std::ofstream(tmp.file("lines.srt")) << "1\n00:00:00,500 --> 00:00:01,500\nfirst line\n\n"
                                         << "2\n00:00:02,000 --> 00:00:03,000\nsecond line\n";
    std::vector<cv::Mat> frames(50, testsupport::solidFrame({64, 48}, cv::Scalar::all(0)));
    const struct {
        const char* name;
        std::string source;
        std::string options;
        std::string file;
        std::string codecs;
    } rows[] = {
        {"sound and subtitles in Matroska", "source.mkv",
         "-f lavfi -i sine=sample_rate=8000:duration=2 -i '" + tmp.file("lines.srt") +
             "' -map 0 -map 1 -map 2 -c:v ffv1 -g 10 -c:a pcm_s16le -c:s srt",
         "EVENT0001.mkv", "ffv1\npcm_s16le\nsubrip\n"},
        {"sound in AVI", "source.avi",
         "-f lavfi -i sine=sample_rate=8000:duration=2 -c:v ffv1 -g 10 -c:a pcm_s16le",
         "EVENT0001.avi", "ffv1\npcm_s16le\n"},
        {"a name in capitals keeps them", "source.AVI", "-c:v ffv1 -g 10", "EVENT0001.AVI",
         "ffv1\n"},
        {"codecs WebM does not take go to Matroska", "source.webm",
         "-i '" + tmp.file("lines.srt") + "' -c:v ffv1 -g 10 -c:s srt -f matroska", "EVENT0001.mkv",
         "ffv1\nsubrip\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string folder = tmp.file(row.name);
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(folder + "/" + row.source, frames, 25.0,
                                                      row.options));
        const pelmora::ClipResults results =
            cut(folder + "/" + row.source, folder, {{{1}, 400, 1600}}, ClipMode::Copy);
        ASSERT_EQ(results.clips.size(), 1u);
        EXPECT_TRUE(results.clips[0].saved) << results.clips[0].error;
        EXPECT_EQ(results.clips[0].file, row.file);
        // Known again as a clip, so that --clean and --resume remove it.
        EXPECT_TRUE(pelmora::isClipFileName(row.file));
        EXPECT_EQ(testsupport::commandOutput(
                      "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + folder +
                      "/" + row.file + "'"),
                  row.codecs);
    }
}

TEST(ClipWriter, PicturesThatNoContainerTakesAsTheyAreAreEncodedWithANotice) {
    TempDir tmp;
    // QuickTime's run-length codec, in a file whose name says nothing of its container.
    const std::string source = tmp.file("source.bin");
    std::vector<cv::Mat> frames(20, testsupport::solidFrame({64, 48}, cv::Scalar::all(0)));
    ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(source, frames, 25.0, "-c:v qtrle -f mov"));
    const pelmora::ClipResults results =
        cut(source, tmp.path(), {{{1}, 0, 200}, {{2}, 400, 600}}, ClipMode::Copy);
    EXPECT_EQ(results.notices,
              std::vector<std::string>{"Cannot copy the qtrle stream of " + source +
                                       " into a clip: encoding the clips instead"});
    ASSERT_EQ(results.clips.size(), 2u);
    for (const ClipOutcome& clip : results.clips) {
        EXPECT_TRUE(clip.saved) << clip.error;
        EXPECT_TRUE(clip.encoded);
    }
    EXPECT_EQ(results.clips[1].file, "EVENT0002.mp4");
    EXPECT_EQ(results.clips[1].startMs, 400);
    EXPECT_EQ(results.clips[1].endMs, 600);
}

TEST(ClipWriter, AClipThatCannotBeSavedSaysWhyAndLeavesNothing) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    // Root writes anywhere, so a folder stands where the first clip would go.
    std::filesystem::create_directories(tmp.file("out/EVENT0001.mkv"));
    const struct {
        const char* name;
        std::string folder;
        std::string error;
    } rows[] = {
        {"a folder in its place", tmp.file("out"), "Is a directory"},
        {"a missing folder", tmp.file("missing"), "No such file or directory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const pelmora::ClipResults results =
            cut(source, row.folder, {{{1}, 0, 400}, {{2}, 3000, 3200}}, ClipMode::Copy);
        ASSERT_EQ(results.clips.size(), 2u);
        EXPECT_FALSE(results.clips[0].saved);
        EXPECT_EQ(results.clips[0].error, row.error);
        EXPECT_EQ(results.lost, row.folder == tmp.file("out") ? 1 : 2);
    }
    EXPECT_EQ(testsupport::listDir(tmp.file("out")),
              (std::vector<std::string>{"EVENT0001.mkv", "EVENT0002.mkv"}));
    EXPECT_TRUE(std::filesystem::is_directory(tmp.file("out/EVENT0001.mkv")));
}

TEST(ClipWriter, AFullDiskLosesTheClipWithTheReasonAndTheNextIsStillTried) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    const std::string folder = tmp.file("out");
    std::filesystem::create_directories(folder);
    // Files of 20,000 bytes at most: the first clip, of a second and a half, does not fit; the
    // second, of one frame, does.
    const int outcome = testsupport::withFileSizeLimit(20000, [&] {
        const pelmora::ClipResults results =
            cut(source, folder, {{{1}, 0, 1500}, {{2}, 3960, 3960}}, ClipMode::Copy);
        if (results.clips.size() != 2 || results.clips[0].saved) {
            return 1;
        }
        if (results.clips[0].error != "File too large") {
            return 2;
        }
        return results.clips[1].saved && results.lost == 1 ? 0 : 3;
    });
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(testsupport::listDir(folder), std::vector<std::string>{"EVENT0002.mkv"});
}

TEST(ClipWriter, AStopAbandonsTheClipsNotYetCompleteAndLeavesNothingOfThem) {
    TempDir tmp;
    const std::string source = tmp.file("source.mkv");
    ASSERT_TRUE(writeSource(source));
    pelmora::ClipRequest request;
    request.videoPath = source;
    request.folder = tmp.file("out");
    std::filesystem::create_directories(request.folder);
    request.stretches = {{{1}, 0, 400}, {{2}, 2000, 3000}};
    // The first clip ends at the packet after 1,440 ms, long before the second is complete.
    int packets = 0;
    request.stopRequested = [&packets] { return ++packets > 100; };
    const pelmora::ClipResults results = pelmora::writeClips(request);
    ASSERT_EQ(results.clips.size(), 2u);
    EXPECT_TRUE(results.clips[0].saved) << results.clips[0].error;
    EXPECT_EQ(results.clips[1].error, "stopped before it was complete");
    EXPECT_TRUE(results.stopped);
    EXPECT_EQ(results.lost, 1);
    EXPECT_EQ(testsupport::listDir(request.folder), std::vector<std::string>{"EVENT0001.mkv"});
}

TEST(ClipWriter, AVideoThatDoesNotOpenLosesEveryClip) {
    TempDir tmp;
    const pelmora::ClipResults results =
        cut(tmp.file("none.mkv"), tmp.path(), {{{1}, 0, 400}}, ClipMode::Copy);
    ASSERT_EQ(results.clips.size(), 1u);
    EXPECT_EQ(results.clips[0].error, "No such file or directory");
    // Named as a clip still, for the line that says it was lost.
    EXPECT_EQ(results.clips[0].file, "EVENT0001.mkv");
    EXPECT_EQ(results.lost, 1);
}

}  // namespace
