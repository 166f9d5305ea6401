#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "AvOwners.h"
#include "ContinuedTimes.h"
#include "VideoFile.h"

namespace pelmora {

// Has the decoder start every picture black before it decodes into it. A decoder may leave
// part of a picture unwritten where its data ends early (FFV1 leaves the colour of a frame cut
// off in the middle), and a buffer it takes again from its pool still holds whichever picture
// it held last, which depends on how far the threads had got: the same file would give other
// pictures from one read to the next. Call before the decoder is opened.
void startPicturesBlack(AVCodecContext* decoder);

// A picture as the decoder gave it, in its own pixel format, with what the conversion to
// blue-green-red and the clocks need to know of it.
struct Picture {
    Frame frame;
    // The decoder's coded size when the picture came out: the conversion works over it.
    int codedWidth = 0;
    int codedHeight = 0;
    // The stream's position at the picture, in milliseconds from the stream's start, as the
    // frame-rate fallback has always read it (its decoding time where it has no presentation
    // time); 0 where it has neither.
    double positionMs = 0.0;
    // The presentation time in milliseconds from the stream's start; false where the stream
    // gives none.
    bool hasPresentationTime = false;
    double presentationMs = 0.0;
    // The presentation time as it runs on through a video whose times start again part-way
    // (see ContinuedTimes), read from its start or from the place last sought; elsewhere the
    // presentation time itself.
    double continuedMs = 0.0;
};

// Reads the pictures of a video file with FFmpeg's libraries: the stream VideoFile takes for the
// video, every picture its decoder returns, in order. What it gives and counts is what the imaging
// library's video capture gives on the same system, frame for frame: the names of the
// snapshots depend on the rate and the count, and on every picture being counted.
class VideoSource {
public:
    VideoSource();
    ~VideoSource();
    VideoSource(const VideoSource&) = delete;
    VideoSource& operator=(const VideoSource&) = delete;

    // FFmpeg's reason (or ours) when the file does not open as a video; empty when it does.
    // The decoder runs on as many threads as the machine has, unless told otherwise.
    std::string open(const std::string& path, int decoderThreads = 0);
    bool isOpen() const { return stream != nullptr; }
    void close();

    // The rate FFmpeg guesses for the stream (0 where it has none), and the frame count the
    // container announces, else its duration times that rate, rounded.
    double fps() const;
    long long announcedFrames() const;
    // The frames a reading can expect: those announced, unless the container's duration at
    // that rate holds more than 1 % fewer (an AVI whose header counts each picture twice), so
    // that progress follows what is there to read.
    long long expectedFrames() const;
    // The video's length as the file announces it, in whole milliseconds: its duration, or its
    // frame count over the rate where that is longer; 0 where it announces neither.
    long long announcedMs() const;
    // The stream's width and height, and the rotation its display matrix asks for (0, 90, 180
    // or 270 degrees clockwise).
    int width() const;
    int height() const;
    int rotation() const { return rotationDegrees; }
    // The picture's size as it is shown, turned where it is; 0 x 0 where the stream says none.
    cv::Size shownSize() const {
        return rotationDegrees % 180 != 0 ? cv::Size(height(), width())
                                          : cv::Size(width(), height());
    }
    // Whether the file is a still picture (PNG, JPEG, BMP and the like) rather than a video.
    bool isStillPicture() const;
    // How long the container says the video lasts, in milliseconds; 0 where it does not say.
    double durationMs() const;

    // The next picture; false at the end of the video. Packets the decoder rejects end the
    // video, as they always have for this program's frame counts.
    bool next(Picture& picture);

    // Moves to the keyframe at or before ms from the stream's start, as far as the container's
    // index knows it, and forgets the pictures the decoder held: next then gives the pictures
    // from there. False when the container cannot seek; the position is then unknown.
    bool seek(double ms);

    // Hands picture back, to be the next one next gives, as the picture of index index counted
    // from the video's first: the cap on a container's count then holds as in a read from the
    // start.
    void putBack(Picture&& picture, long long index);

    // The demuxer's names for the container ("avi", "mov,mp4,m4a,3gp,3g2,mj2", ...), and
    // whether the file can be read out of order.
    std::string containerName() const;
    bool seekable() const;
    // When the recording was made, as the container says (see VideoFile::creationTime).
    std::string creationTime() const { return file.creationTime(); }
    // The frame count the container's header gives; 0 where it gives none.
    long long countedFrames() const;

private:
    double durationSeconds() const;
    double secondsFromStart(long long timestamp) const;

    VideoFile file;
    AVFormatContext* format = nullptr;  // the file's container, which the file owns
    Codec decoder;
    AVStream* stream = nullptr;
    Packet packet;
    int streamIndex = -1;
    int rotationDegrees = 0;
    long long picturesRead = 0;
    ContinuedTimes times;
    Picture returned;
    bool hasReturned = false;
};

}  // namespace pelmora
