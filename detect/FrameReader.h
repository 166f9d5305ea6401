#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>
#include <thread>

#include "FramePool.h"

namespace pelmora {

struct DecodedFrame {
    cv::Mat image;
    double streamMs = 0.0;  // the stream's position after the frame, when asked for
};

// Decodes a video on a thread of its own, ahead of the detector, into buffers of the pool: the
// pool's capacity bounds how far ahead it gets. Frames come out in the video's order.
class FrameReader {
public:
    FrameReader(cv::VideoCapture& capture, FramePool& pool, bool wantsStreamPosition);
    // Stops reading and waits for the thread.
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // The next frame; false at the end of the video. A failure of the decoder on the reading
    // thread is thrown here, on the caller's.
    bool next(DecodedFrame& frame);

    // Reads no further frame; the capture is free once this returns.
    void stop();

private:
    void readAll();

    cv::VideoCapture& capture;
    FramePool& pool;
    const bool wantsStreamPosition;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<DecodedFrame> ready;
    bool finished = false;
    bool stopping = false;
    std::exception_ptr failure;
    std::thread thread;
};

}  // namespace pelmora
