#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <opencv2/core.hpp>
#include <vector>

namespace pelmora {

// The frame buffers of one run, which go round between the reader, the detector and the
// snapshot writers: a run allocates no buffer per frame, and holds no more than the pool's
// capacity of frames however long the video is.
class FramePool {
public:
    explicit FramePool(std::size_t capacity);

    // A buffer to decode into: a returned one, or a new one while fewer than the capacity are
    // out. Waits for one to come back; false once the pool is closed.
    bool acquire(cv::Mat& buffer);
    // Gives a buffer back (any frame buffer: the detector may return another than it took).
    void release(cv::Mat buffer);
    // Wakes every waiting acquire, which then fails, as does every later one.
    void close();

private:
    const std::size_t capacity;
    std::mutex mutex;
    std::condition_variable returned;
    std::vector<cv::Mat> free;
    std::size_t out = 0;
    bool closed = false;
};

}  // namespace pelmora
