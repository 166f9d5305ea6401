#include "FrameReader.h"

#include <utility>

namespace pelmora {

FrameReader::FrameReader(cv::VideoCapture& capture, FramePool& pool, bool wantsStreamPosition)
    : capture(capture), pool(pool), wantsStreamPosition(wantsStreamPosition) {
    thread = std::thread(&FrameReader::readAll, this);
}

FrameReader::~FrameReader() {
    stop();
}

void FrameReader::readAll() {
    try {
        DecodedFrame frame;
        while (pool.acquire(frame.image)) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping) {
                    break;
                }
            }
            if (!capture.read(frame.image)) {
                pool.release(std::move(frame.image));
                break;
            }
            frame.streamMs = wantsStreamPosition ? capture.get(cv::CAP_PROP_POS_MSEC) : 0.0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                ready.push_back(std::move(frame));
            }
            changed.notify_one();
            frame = DecodedFrame();
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        failure = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    changed.notify_one();
}

bool FrameReader::next(DecodedFrame& frame) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !ready.empty() || finished; });
    if (!ready.empty()) {
        frame = std::move(ready.front());
        ready.pop_front();
        return true;
    }
    if (failure) {
        std::rethrow_exception(std::exchange(failure, nullptr));
    }
    return false;
}

void FrameReader::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    pool.close();
    if (thread.joinable()) {
        thread.join();
    }
    // Frames read ahead and never taken go back, so that the pool's count stays true.
    std::lock_guard<std::mutex> lock(mutex);
    for (DecodedFrame& frame : ready) {
        pool.release(std::move(frame.image));
    }
    ready.clear();
}

}  // namespace pelmora
