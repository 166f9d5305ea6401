#include <gtest/gtest.h>

#include <atomic>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "DigestPlan.h"
#include "DigestWriter.h"
#include "FolderNames.h"
#include "PaddedSpans.h"
#include "TestSupport.h"
#include "VideoDigest.h"

namespace {

using pelmora::DigestPiece;
using testsupport::TempDir;

pelmora::MotionEvent event(int number, long long firstFrame, long long lastFrame) {
    pelmora::MotionEvent made;
    made.number = number;
    made.firstFrame = firstFrame;
    made.lastFrame = lastFrame;
    made.startMs = firstFrame * 40;
    made.endMs = lastFrame * 40;
    return made;
}

TEST(DigestPlan, StretchesAtRealSpeedAndTheQuietBetweenOneFrameInTheSpeed) {
    // At 25 frames per second: 400 ms is 10 frames.
    const struct {
        const char* name;
        std::vector<pelmora::MotionEvent> events;
        long long lastFrame;
        std::vector<std::vector<long long>> pieces;  // first, last, step, then the events
    } rows[] = {
        {"no event, no digest", {}, 99, {}},
        {"quiet on both sides", {event(1, 50, 55)}, 99, {{0, 39, 7}, {40, 65, 1, 1}, {66, 99, 7}}},
        {"cut at the first frame", {event(1, 5, 5)}, 99, {{0, 15, 1, 1}, {16, 99, 7}}},
        {"cut at the last frame", {event(1, 95, 99)}, 99, {{0, 84, 7}, {85, 99, 1, 1}}},
        {"the whole video", {event(1, 0, 99)}, 99, {{0, 99, 1, 1}}},
        {"overlapping stretches merge",
         {event(1, 20, 25), event(2, 40, 41)},
         99,
         {{0, 9, 7}, {10, 51, 1, 1, 2}, {52, 99, 7}}},
        {"touching stretches merge",
         {event(1, 20, 20), event(2, 41, 41)},
         99,
         {{0, 9, 7}, {10, 51, 1, 1, 2}, {52, 99, 7}}},
        {"one frame of quiet between",
         {event(1, 20, 20), event(2, 42, 42)},
         99,
         {{0, 9, 7}, {10, 30, 1, 1}, {31, 31, 7}, {32, 52, 1, 2}, {53, 99, 7}}},
        {"an event past the frames read is left out", {event(1, 120, 130)}, 99, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::vector<long long>> got;
        for (const DigestPiece& piece : pelmora::planDigest(
                 row.events, row.lastFrame, pelmora::FrameNames(25.0), 400, 400, 7)) {
            std::vector<long long> flat = {piece.first, piece.last, piece.step};
            flat.insert(flat.end(), piece.events.begin(), piece.events.end());
            got.push_back(flat);
        }
        EXPECT_EQ(got, row.pieces);
    }
}

// What the plans above do not show: a margin that reaches past the end a day's digest cuts to,
// on a clock of milliseconds, and an end that is not known.
TEST(PaddedSpans, MarginsStopAtZeroAndAtTheEndWhereItIsKnown) {
    const struct {
        const char* name;
        std::vector<pelmora::Span> spans;
        pelmora::SpanMargins margins;
        std::vector<std::vector<long long>> padded;  // first, last, from, to
    } rows[] = {
        {"past the end stops at its last millisecond",
         {{9000, 9500}},
         {2000, 2000, 9999, 0},
         {{7000, 9999, 0, 1}}},
        {"an end exactly reached", {{9000, 9499}}, {0, 500, 9999, 0}, {{9000, 9999, 0, 1}}},
        {"an unknown end cuts nothing", {{9000, 9500}}, {2000, 2000, -1, 0}, {{7000, 11500, 0, 1}}},
        {"at zero with a margin before", {{0, 0}, {100, 100}}, {500, 0, -1, 0}, {{0, 100, 0, 2}}},
        {"next positions meet as whole frames", {{0, 4}, {5, 9}}, {0, 0, -1, 1}, {{0, 9, 0, 2}}},
        {"next positions stay apart on a clock",
         {{0, 4}, {5, 9}},
         {0, 0, -1, 0},
         {{0, 4, 0, 1}, {5, 9, 1, 2}}},
        {"a frame between keeps frames apart",
         {{0, 4}, {6, 9}},
         {0, 0, -1, 1},
         {{0, 4, 0, 1}, {6, 9, 1, 2}}},
        {"a short span inside a long one",
         {{0, 1000}, {200, 300}, {1001, 1001}},
         {0, 0, -1, 0},
         {{0, 1000, 0, 2}, {1001, 1001, 2, 3}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::vector<long long>> got;
        for (const pelmora::PaddedSpan& span :
             pelmora::padSpans(row.spans, row.margins, pelmora::MillisecondClock())) {
            got.push_back({span.first, span.last, static_cast<long long>(span.from),
                           static_cast<long long>(span.to)});
        }
        EXPECT_EQ(got, row.padded);
    }
}

// Frames named on the stream's clock, with four seconds of nothing after frame 49: what lies
// around a time, and how far an event is padded, go by the names, never by the rate.
TEST(FrameNames, FramesAndTimesGoByTheRunsOwnNamesAcrossAGap) {
    pelmora::FrameNames names(25.0);
    for (long long frame = 0; frame < 100; ++frame) {
        names.add(frame, frame < 50 ? frame * 40 : 6000 + (frame - 50) * 40);
    }
    const struct {
        long long ms;
        long long firstFrom;
        long long lastTo;
    } times[] = {
        {-5, 0, -1},    {0, 0, 0},      {39, 1, 0},     {1960, 49, 49}, {1961, 50, 49},
        {4000, 50, 49}, {6000, 50, 50}, {6040, 51, 51}, {7960, 99, 99}, {8000, 100, 100},
    };
    for (const auto& time : times) {
        EXPECT_EQ(names.firstFrom(time.ms), time.firstFrom) << time.ms;
        EXPECT_EQ(names.lastTo(time.ms), time.lastTo) << time.ms;
    }
    EXPECT_EQ(names.msOf(49), 1960);
    EXPECT_EQ(names.msOf(50), 6000);
    EXPECT_EQ(names.msOf(101), 8040);

    // An event at 6.4 s (frame 60) padded by two seconds starts at frame 50, the first after
    // the gap, not at frame 10, fifty frames back as the rate would have it.
    pelmora::MotionEvent late = event(1, 60, 60);
    late.startMs = late.endMs = names.msOf(60);
    const std::vector<DigestPiece> pieces = pelmora::planDigest({late}, 99, names, 2000, 400, 60);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[1].first, 50);
    EXPECT_EQ(pieces[1].last, 70);
}

TEST(DigestSize, LargePicturesFitIn720pKeepingTheirShapeInEvenPixels) {
    const struct {
        cv::Size in;
        cv::Size out;
    } rows[] = {
        {{640, 360}, {640, 360}},    {{1280, 720}, {1280, 720}}, {{1920, 1080}, {1280, 720}},
        {{3840, 1080}, {1280, 360}}, {{1080, 1920}, {404, 720}}, {{321, 241}, {320, 240}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pelmora::digestSize(row.in), row.out) << row.in;
    }
}

// Frames that say their own index in eight black or white blocks along the bottom, away from
// the corner the digest writes its times into.
constexpr int kWidth = 160;
constexpr int kHeight = 120;

cv::Mat numberedFrame(int index) {
    cv::Mat frame(kHeight, kWidth, CV_8UC3, cv::Scalar(90, 110, 130));
    for (int bit = 0; bit < 8; ++bit) {
        const int value = ((index >> bit) & 1) != 0 ? 255 : 0;
        frame(cv::Rect(bit * 20, 90, 20, 20)).setTo(cv::Scalar::all(value));
    }
    // A stripe that moves, so that the encoder has change to code.
    frame(cv::Rect(index % (kWidth - 10), 50, 10, 10)).setTo(cv::Scalar(0, 0, 255));
    return frame;
}

int numberOf(const cv::Mat& frame) {
    cv::Mat gray;
    cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
    int index = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (cv::mean(gray(cv::Rect(bit * 20 + 4, 94, 12, 12)))[0] > 128) {
            index |= 1 << bit;
        }
    }
    return index;
}

std::vector<int> digestNumbers(const std::string& path) {
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    std::vector<int> numbers;
    cv::Mat frame;
    while (capture.read(frame)) {
        numbers.push_back(numberOf(frame));
    }
    return numbers;
}

constexpr const char* kLongGop =
    "-c:v libx264 -preset ultrafast -qp 10 -g 50 -keyint_min 50 -sc_threshold 0 -bf 0 "
    "-pix_fmt yuv420p";

TEST(VideoDigest, EveryFrameOfAStretchAndTheQuietEvenlyOrItsKeyframes) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 250; ++i) {
        frames.push_back(numberedFrame(i));
    }
    const std::vector<pelmora::MotionEvent> events = {event(1, 100, 110), event(2, 200, 205)};
    const std::vector<DigestPiece> pieces =
        pelmora::planDigest(events, 249, pelmora::FrameNames(25.0), 400, 400, 30);
    const struct {
        const char* name;
        const char* file;
        const char* options;  // empty: lossless, every frame a keyframe
        int keyframeEvery;
        bool seeks;  // by the container's index; else read through from the start
    } rows[] = {
        {"every frame a keyframe", "clip.avi", "", 1, true},
        {"a keyframe every 50 frames", "clip.mp4", kLongGop, 50, true},
        {"no index to seek by", "clip.ts", kLongGop, 50, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string video = dir.file(row.file);
        ASSERT_TRUE(*row.options == '\0'
                        ? testsupport::writeVideo(video, frames)
                        : testsupport::writeVideoWithFfmpeg(video, frames, 25.0, row.options));
        pelmora::DigestRequest request;
        request.videoPath = video;
        request.path = dir.file(pelmora::kDigestName);
        request.pieces = pieces;
        const pelmora::DigestOutcome outcome = pelmora::writeDigest(request);
        ASSERT_TRUE(outcome.saved) << outcome.error;

        // Every frame of a stretch in order; in the quiet, each frame taken evenly, or the
        // keyframe before it where that lies a whole step or more back.
        const std::vector<int> shown = digestNumbers(request.path);
        ASSERT_EQ(shown.size(), 31u + 26u + 3u + 3u + 2u);
        EXPECT_EQ(outcome.frames, static_cast<long long>(shown.size()));
        std::size_t at = 0;
        int standIns = 0;
        for (const DigestPiece& piece : pieces) {
            for (long long frame = piece.first; frame <= piece.last; frame += piece.step, ++at) {
                const int keyframe =
                    static_cast<int>(frame / row.keyframeEvery * row.keyframeEvery);
                if (piece.quiet() && shown[at] != frame && frame - keyframe >= piece.step) {
                    EXPECT_EQ(shown[at], keyframe) << "frame " << frame;
                    ++standIns;
                    continue;
                }
                EXPECT_EQ(shown[at], frame);
            }
        }
        // A quiet frame far from its keyframe costs one decoded picture, not fifty.
        EXPECT_EQ(standIns > 0, row.keyframeEvery > 1 && row.seeks);
        EXPECT_EQ(testsupport::listDir(dir.path()),
                  (std::vector<std::string>{row.file, pelmora::kDigestName}));
    }
}

TEST(VideoDigest, AStopLeavesNothingUnderItsNameOrAnyOther) {
    TempDir dir;
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 60; ++i) {
        frames.push_back(numberedFrame(i));
    }
    ASSERT_TRUE(testsupport::writeVideo(dir.file("clip.avi"), frames));
    pelmora::DigestRequest request;
    request.videoPath = dir.file("clip.avi");
    request.path = dir.file(pelmora::kDigestName);
    request.pieces =
        pelmora::planDigest({event(1, 10, 50)}, 59, pelmora::FrameNames(25.0), 0, 0, 60);
    int asked = 0;
    request.stopRequested = [&asked] { return ++asked > 20; };
    const pelmora::DigestOutcome outcome = pelmora::writeDigest(request);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_FALSE(outcome.saved);
    EXPECT_EQ(testsupport::listDir(dir.path()), std::vector<std::string>{"clip.avi"});
}

TEST(DigestCorner, TextStaysInItsCorner) {
    cv::Mat picture(360, 640, CV_8UC3, cv::Scalar(90, 110, 130));
    const cv::Mat before = picture.clone();
    pelmora::drawCornerText(picture, {"00:01:02.345", "2024-05-01 08:01:02", "60x"});
    cv::Mat changed;
    cv::absdiff(picture, before, changed);
    cv::cvtColor(changed, changed, cv::COLOR_BGR2GRAY);
    std::vector<cv::Point> points;
    cv::findNonZero(changed, points);
    const cv::Rect touched = cv::boundingRect(points);
    EXPECT_GT(touched.area(), 0);
    EXPECT_LE(touched.br().x, 640 / 3);
    EXPECT_LE(touched.br().y, 360 / 4);
}

}  // namespace
