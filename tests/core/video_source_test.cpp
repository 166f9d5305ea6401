// The video source against the imaging library's video capture, which stays here as the
// reference: every frame byte for byte, their number, the rate and the announced count.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>
#include <vector>

#include "FrameReader.h"
#include "PictureConverter.h"
#include "TestSupport.h"
#include "VideoSource.h"

namespace {

using testsupport::identical;
using testsupport::TempDir;

struct Frames {
    double fps = 0.0;
    long long announced = 0;
    std::vector<cv::Mat> images;
};

Frames readWithCapture(const std::string& path) {
    Frames frames;
    cv::VideoCapture capture(path, cv::CAP_FFMPEG);
    if (!capture.isOpened()) {
        return frames;
    }
    frames.fps = capture.get(cv::CAP_PROP_FPS);
    frames.announced = static_cast<long long>(capture.get(cv::CAP_PROP_FRAME_COUNT));
    cv::Mat image;
    while (capture.read(image)) {
        frames.images.push_back(image.clone());
    }
    return frames;
}

Frames readWithSource(const std::string& path, std::string& reason, int threads) {
    Frames frames;
    pelmora::VideoSource source;
    reason = source.open(path, threads);
    if (!reason.empty()) {
        return frames;
    }
    frames.fps = source.fps();
    frames.announced = source.announcedFrames();
    pelmora::PictureConverter converter;
    converter.setStream({source.width(), source.height()}, source.rotation());
    pelmora::Picture picture;
    cv::Mat image;
    while (source.next(picture)) {
        EXPECT_TRUE(converter.convert(picture, image));
        frames.images.push_back(image.clone());
    }
    return frames;
}

bool run(const std::string& command) {
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    return status == 0;
}

// A clip of moving colour bars, gradients and noise from the FFmpeg tool's own sources, scaled
// to size; filters go after the noise.
bool makeClip(const std::string& path, const std::string& size, const std::string& options,
              double seconds = 0.6, const std::string& filters = "") {
    return run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=s=64x48:r=25:d=" +
               std::to_string(seconds) + " -vf noise=alls=20:allf=t,scale=" + size +
               ":flags=neighbor" + (filters.empty() ? "" : "," + filters) + " " + options + " '" +
               path + "'");
}

// Overwrites count bytes at the middle of a file with a pattern that no codec takes for data.
void damage(const std::string& path, std::size_t count) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(0, std::ios::end);
    const auto size = static_cast<std::size_t>(file.tellg());
    file.seekp(static_cast<std::streamoff>(size / 2));
    for (std::size_t i = 0; i < count; ++i) {
        file.put(static_cast<char>(i * 37 + 11));
    }
}

// threads: the decoder's, in both readers; 0 for as many as the machine has. undamaged: the
// frames of the same clip before it was damaged or cut, when it was. Pictures that a decoder
// made up to hide damage may show whatever its memory held, and differ even between two reads
// with the same reader; every frame the damage left alone must be the same.
void expectSameFrames(const std::string& name, const std::string& path, int threads = 0,
                      const Frames* undamaged = nullptr) {
    if (threads > 0) {
        ::setenv("OPENCV_FFMPEG_THREADS", std::to_string(threads).c_str(), 1);
    }
    const Frames reference = readWithCapture(path);
    ::unsetenv("OPENCV_FFMPEG_THREADS");
    std::string reason;
    const Frames frames = readWithSource(path, reason, threads);
    ASSERT_FALSE(reference.images.empty()) << name << ": the reference read nothing";
    EXPECT_EQ(reason, "") << name;
    EXPECT_EQ(frames.fps, reference.fps) << name;
    EXPECT_EQ(frames.announced, reference.announced) << name;
    ASSERT_EQ(frames.images.size(), reference.images.size()) << name;
    // A picture the decoder rejected moves those after it down.
    const std::size_t dropped =
        undamaged == nullptr ? 0 : undamaged->images.size() - reference.images.size();
    const auto leftAlone = [&](std::size_t i) {
        for (const std::size_t at : {i, i + dropped}) {
            if (at < undamaged->images.size() &&
                identical(undamaged->images[at], reference.images[i])) {
                return true;
            }
        }
        return false;
    };
    std::size_t compared = 0;
    for (std::size_t i = 0; i < frames.images.size(); ++i) {
        if (undamaged != nullptr && !leftAlone(i)) {
            continue;
        }
        ++compared;
        ASSERT_TRUE(identical(frames.images[i], reference.images[i])) << name << " frame " << i;
    }
    EXPECT_GT(compared * 2, frames.images.size()) << name << ": too few frames left alone";
}

TEST(VideoSource, GivesTheFramesOfTheImagingLibrarysCaptureByteForByte) {
    TempDir tmp;
    struct Clip {
        const char* name;
        const char* file;
        const char* size;
        const char* options;
        const char* filters = "";
    };
    const Clip clips[] = {
        {"mpeg4InAvi", "mpeg4.avi", "64:48", "-c:v mpeg4 -pix_fmt yuv420p"},
        {"msMpeg4v3", "msmpeg4.avi", "64:48", "-c:v msmpeg4"},
        {"cinepak", "cinepak.avi", "64:48", "-c:v cinepak"},
        {"mpeg2InTs", "mpeg2.ts", "64:48", "-c:v mpeg2video"},
        {"flashVideo", "flv.flv", "64:48", "-c:v flv"},
        {"h264InMp4", "h264.mp4", "64:48", "-c:v libx264 -pix_fmt yuv420p"},
        {"h264Odd420", "h264odd.mkv", "34:18", "-c:v libx264 -pix_fmt yuv420p"},
        {"h264Planar422", "h264-422.mkv", "64:48", "-c:v libx264 -pix_fmt yuv422p"},
        {"h264Planar444Odd", "h264-444.mkv", "33:17", "-c:v libx264 -pix_fmt yuv444p"},
        {"h264TenBit", "h264-10.mkv", "64:48", "-c:v libx264 -pix_fmt yuv420p10le"},
        {"mjpegFullRange420", "mjpeg420.avi", "64:48", "-c:v mjpeg -pix_fmt yuvj420p"},
        {"mjpegFullRange422", "mjpeg422.avi", "64:48", "-c:v mjpeg -pix_fmt yuvj422p"},
        {"mjpegFullRange444", "mjpeg444.avi", "33:17", "-c:v mjpeg -pix_fmt yuvj444p"},
        {"ffv1Grey", "grey.mkv", "33:17", "-c:v ffv1 -pix_fmt gray"},
        {"ffv1OnePixel", "one.mkv", "1:1", "-c:v ffv1 -pix_fmt yuv444p"},
        {"ffv1TenBit", "ffv1-10.mkv", "33:17", "-c:v ffv1 -pix_fmt yuv420p10le"},
        {"rawPalette", "palette.avi", "33:17", "-c:v rawvideo -pix_fmt pal8"},
        {"pngPackedRgb", "rgb.mov", "33:17", "-c:v png -pix_fmt rgb24"},
        {"pngWithAlpha", "rgba.mov", "1:1", "-c:v png -pix_fmt rgba"},
        {"huffyuvBgra", "hfyu.avi", "64:48", "-c:v huffyuv -pix_fmt bgra"},
        {"vp9InWebm", "vp9.webm", "64:48", "-c:v libvpx-vp9 -deadline realtime -pix_fmt yuv420p"},
        {"variableRate", "vfr.mkv", "64:48", "-c:v libx264 -fps_mode vfr",
         "setpts='N/25/TB+if(gt(N\\,5)\\,0.5/TB\\,0)+if(gt(N\\,9)\\,0.013*N/TB\\,0)'"},
        {"rotatedQuarter", "rotated.mp4", "64:48",
         "-c:v libx264 -pix_fmt yuv420p -metadata:s:v:0 rotate=90"},
    };
    for (const Clip& clip : clips) {
        const std::string path = tmp.file(clip.file);
        if (makeClip(path, clip.size, clip.options, 0.6, clip.filters)) {
            expectSameFrames(clip.name, path);
        }
    }
}

TEST(VideoSource, DamagedAndCutFilesGiveTheSameFramesAsTheCapture) {
    TempDir tmp;
    struct Clip {
        const char* name;
        const char* file;
        const char* options;
        bool cut;  // else damaged in the middle
    };
    const Clip clips[] = {
        {"damagedMpeg4", "mpeg4.avi", "-c:v mpeg4 -g 5", false},
        {"damagedH264", "h264.mp4", "-c:v libx264 -g 5", false},
        {"damagedMjpeg", "mjpeg.avi", "-c:v mjpeg", false},
        {"cutAviAnnouncesMore", "cut.avi", "-c:v mjpeg", true},
    };
    for (const Clip& clip : clips) {
        const std::string path = tmp.file(clip.file);
        if (!makeClip(path, "160:120", clip.options, 2.0)) {
            continue;
        }
        const Frames undamaged = readWithCapture(path);
        if (clip.cut) {
            const std::string bytes = testsupport::fileBytes(path);
            std::ofstream(path, std::ios::binary | std::ios::trunc)
                << bytes.substr(0, bytes.size() / 2);
        } else {
            damage(path, 600);
        }
        // How a decoder hides damage depends on which of its threads gets there first. The
        // picture a cut goes through is read, as the capture reads it, but what its decoder left
        // unwritten is black here and whatever the capture's buffers held there.
        expectSameFrames(clip.name, path, 1, &undamaged);
    }
}

// The bytes of the video's last packet: where it starts in the file, and how long it is.
std::pair<long long, long long> lastPacket(const std::string& path) {
    std::string text;
    FILE* pipe = ::popen(("ffprobe -v error -select_streams v -show_entries packet=pos,size "
                          "-of csv=p=0 '" +
                          path + "'")
                             .c_str(),
                         "r");
    char buffer[4096];
    for (std::size_t got;
         pipe != nullptr && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, got);
    }
    if (pipe == nullptr || ::pclose(pipe) != 0 || text.empty()) {
        return {-1, -1};
    }
    text.pop_back();
    const std::string line = text.substr(text.rfind('\n') + 1);
    const std::string::size_type comma = line.find(',');
    return {std::stoll(line.substr(0, comma)), std::stoll(line.substr(comma + 1))};
}

// The last picture of a video, converted; empty when it gives none.
cv::Mat lastPicture(const std::string& path, long long& count) {
    pelmora::VideoSource source;
    count = 0;
    cv::Mat image;
    const std::string reason = source.open(path, 1);
    if (!reason.empty()) {
        ADD_FAILURE() << path << ": " << reason;
        return image;
    }
    pelmora::PictureConverter converter;
    converter.setStream({source.width(), source.height()}, source.rotation());
    pelmora::Picture picture;
    for (; source.next(picture); ++count) {
        EXPECT_TRUE(converter.convert(picture, image));
    }
    return image.clone();
}

TEST(VideoSource, APictureCutOffInItsDataIsTheSameWhateverCameBeforeIt) {
    TempDir tmp;
    // Two videos that differ in every picture but their last, all of them keyframes so that
    // the last one's bytes are the same in both: FFV1 leaves the colour of a picture whose data
    // ends early unwritten, and a decoder's buffers hold the picture they held before.
    cv::Mat last(48, 64, CV_8UC3);
    cv::RNG(7).fill(last, cv::RNG::UNIFORM, 0, 256);
    struct Row {
        const char* name;
        const char* file;
        const char* container;
    };
    const Row rows[] = {
        {"aviMarksThePacketDamaged", "avi", "-f avi"},
        {"nutDoesNot", "nut", "-f nut"},
        {"movIndexedAtTheStart", "mov", "-movflags +faststart -f mov"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<cv::Mat> pictures;
        for (const cv::Scalar& colour : {cv::Scalar(0, 0, 255), cv::Scalar(255, 0, 0)}) {
            std::vector<cv::Mat> frames(9, testsupport::solidFrame(last.size(), colour));
            frames.push_back(last);
            const std::string whole = tmp.file("whole." + std::string(row.file));
            ASSERT_TRUE(testsupport::writeVideoWithFfmpeg(
                whole, frames, 25.0,
                std::string("-c:v ffv1 -g 1 -pix_fmt yuv420p ") + row.container));
            const auto [at, size] = lastPacket(whole);
            ASSERT_GT(size, 100);
            const std::string bytes = testsupport::fileBytes(whole);
            const std::string cut = tmp.file("cut." + std::string(row.file));
            std::ofstream(cut, std::ios::binary | std::ios::trunc)
                << bytes.substr(0, static_cast<std::size_t>(at + size / 2));
            long long count = 0;
            const cv::Mat wholeLast = lastPicture(whole, count);
            pictures.push_back(lastPicture(cut, count));
            // The picture cut off is read, as the capture reads it, and is not the whole one.
            EXPECT_EQ(count, static_cast<long long>(readWithCapture(cut).images.size()));
            EXPECT_EQ(count, 10);
            ASSERT_FALSE(pictures.back().empty());
            EXPECT_FALSE(identical(pictures.back(), wholeLast));
        }
        EXPECT_TRUE(identical(pictures[0], pictures[1]));
    }
}

TEST(VideoSource, SaysWhyAFileDoesNotOpen) {
    TempDir tmp;
    std::ofstream(tmp.file("text.avi")) << "not a video\n";
    std::ofstream{tmp.file("empty.avi")};
    run("ffmpeg -nostdin -loglevel error -f lavfi -i sine=d=0.2 '" + tmp.file("sound.wav") + "'");
    struct Row {
        const char* name;
        std::string path;
        const char* reason;
    };
    const Row rows[] = {
        {"missing", tmp.file("missing.avi"), "No such file or directory"},
        {"folder", tmp.path(), "Is a directory"},
        {"notAVideo", tmp.file("text.avi"), "Invalid data found when processing input"},
        {"empty", tmp.file("empty.avi"), "empty file"},
        {"soundOnly", tmp.file("sound.wav"), "no video stream"},
    };
    for (const Row& row : rows) {
        pelmora::VideoSource source;
        EXPECT_EQ(source.open(row.path), row.reason) << row.name;
        pelmora::Picture picture;
        EXPECT_FALSE(source.next(picture)) << row.name;
    }
}

}  // namespace

namespace {

TEST(FrameReader, AStopWhileItWaitsOnAFullReadAheadEndsAtOnce) {
    TempDir tmp;
    // Frame i is grey 10 * i, so that a frame read shows its number.
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 20; ++i) {
        frames.push_back(testsupport::solidFrame({64, 48}, cv::Scalar::all(10 * i)));
    }
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("grey.avi"), frames));
    pelmora::VideoSource source;
    ASSERT_EQ(source.open(tmp.file("grey.avi"), 1), "");
    {
        pelmora::FrameReader reader(source, 3);
        pelmora::Picture first;
        ASSERT_TRUE(reader.next(first));
        // Time enough to decode three tiny pictures ahead and wait for room.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto start = std::chrono::steady_clock::now();
        std::future<void> stopped = std::async(std::launch::async, [&reader] { reader.stop(); });
        if (stopped.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ADD_FAILURE() << "the reader did not stop";
            std::fflush(nullptr);
            std::_Exit(1);
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        pelmora::Picture none;
        EXPECT_FALSE(reader.next(none));
    }
    // The reader took the first picture and three ahead of it, and not one more.
    pelmora::Picture next;
    ASSERT_TRUE(source.next(next));
    pelmora::PictureConverter converter;
    cv::Mat image;
    ASSERT_TRUE(converter.convert(next, image));
    EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b::all(40));
}

}  // namespace
