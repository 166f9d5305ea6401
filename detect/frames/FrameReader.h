#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

#include "VideoSource.h"

namespace pelmora {

// Decodes a video on a thread of its own, a few pictures ahead of the detector, in the
// decoder's own pixel format: converting them is the detector's business, and only as far as
// it needs. Pictures come out in the video's order.
class FrameReader {
public:
    FrameReader(VideoSource& source, std::size_t readAhead);
    // Stops reading and waits for the thread.
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // The next picture; false at the end of the video. A failure on the reading thread is
    // thrown here, on the caller's.
    bool next(Picture& picture);

    // Reads no further picture; the source is free once this returns.
    void stop();

private:
    void readAll();

    VideoSource& source;
    const std::size_t readAhead;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Picture> ready;
    bool finished = false;
    bool stopping = false;
    std::exception_ptr failure;
    std::thread thread;
};

}  // namespace pelmora
