// The seeker against a plain read from the start: the frame it gives for a time is, byte for
// byte, the one a run reads at that moment, whatever was asked for before.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "FrameSeeker.h"
#include "PictureConverter.h"
#include "TestSupport.h"
#include "VideoSource.h"

namespace {

using testsupport::identical;
using testsupport::TempDir;

constexpr int kFrames = 100;  // four seconds at 25 frames per second, 40 ms apart

struct SequentialRead {
    std::vector<cv::Mat> images;
    std::vector<double> times;
};

SequentialRead readAll(const std::string& path) {
    SequentialRead read;
    pelmora::VideoSource source;
    const std::string reason = source.open(path);
    if (!reason.empty()) {
        ADD_FAILURE() << path << ": " << reason;
        return read;
    }
    pelmora::PictureConverter converter;
    converter.setStream({source.width(), source.height()}, source.rotation());
    pelmora::Picture picture;
    cv::Mat image;
    while (source.next(picture) && converter.convert(picture, image)) {
        read.images.push_back(image.clone());
        read.times.push_back(picture.presentationMs);
    }
    return read;
}

// Every frame differs from every other: a block moves one pixel a frame over colours that
// follow the frame's number.
std::vector<cv::Mat> numberedFrames() {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < kFrames; ++i) {
        const cv::Mat base = testsupport::solidFrame({128, 96}, {2.0 * i, 255 - 2.0 * i, 128});
        frames.push_back(testsupport::withRect(base, {i, i % 40, 16, 16}, cv::Scalar::all(255)));
    }
    return frames;
}

struct TimeRow {
    const char* name;
    double ms;
    int frame;
};

// In this order on one seeker they take every path: the first read, decoding on, the frame
// already decoded, seeking back and ahead, the end, and seeking after it. Keyframes come every
// ten frames, every 400 ms.
const TimeRow kTimes[] = {
    {"start", 0.0, 0},
    {"before the start", -40.0, 0},
    {"within a frame", 530.0, 13},
    {"exactly on a frame, back", 480.0, 12},
    {"1 ms before the next, already decoded", 519.0, 12},
    {"1 ms before a keyframe", 399.0, 9},
    {"exactly on that keyframe", 400.0, 10},
    {"on across a keyframe", 850.0, 21},
    {"far ahead", 3500.0, 87},
    {"the last frame", 3960.0, 99},
    {"past the end", 10000.0, 99},
    {"back to the start after the end", 1.0, 0},
};

TEST(FrameSeeker, GivesTheFrameARunReadsAtEachTime) {
    TempDir tmp;
    for (const testsupport::ClipEncoding& clip :
         testsupport::clipEncodings({"ffv1", "h264WithBFrames"})) {
        const std::string path = tmp.file(clip.file);
        if (!testsupport::writeVideoWithFfmpeg(path, numberedFrames(), 25.0, clip.options)) {
            continue;
        }
        const SequentialRead read = readAll(path);
        ASSERT_EQ(read.images.size(), static_cast<std::size_t>(kFrames)) << clip.name;
        pelmora::FrameSeeker seeker;
        ASSERT_EQ(seeker.open(path), "") << clip.name;
        EXPECT_EQ(seeker.durationMs(), 4000.0) << clip.name;
        for (const TimeRow& row : kTimes) {
            cv::Mat image;
            ASSERT_TRUE(seeker.frameAt(row.ms, image)) << clip.name << ", " << row.name;
            EXPECT_TRUE(identical(image, read.images[row.frame])) << clip.name << ", " << row.name;
            EXPECT_EQ(seeker.shownMs(), read.times[row.frame]) << clip.name << ", " << row.name;
        }
        // Frame by frame through the whole video, after all that seeking, as a user steps.
        for (int i = 0; i < kFrames; ++i) {
            cv::Mat image;
            ASSERT_TRUE(seeker.frameAt(read.times[i], image)) << clip.name << ", step " << i;
            EXPECT_TRUE(identical(image, read.images[i])) << clip.name << ", step " << i;
        }
    }
}

}  // namespace
