#include "FramePool.h"

#include <utility>

namespace pelmora {

FramePool::FramePool(std::size_t capacity) : capacity(capacity) {}

bool FramePool::acquire(cv::Mat& buffer) {
    std::unique_lock<std::mutex> lock(mutex);
    returned.wait(lock, [this] { return closed || out < capacity; });
    if (closed) {
        return false;
    }
    ++out;
    if (free.empty()) {
        buffer = cv::Mat();
    } else {
        buffer = std::move(free.back());
        free.pop_back();
    }
    return true;
}

void FramePool::release(cv::Mat buffer) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (out > 0) {
            --out;
        }
        if (!buffer.empty() && free.size() < capacity) {
            free.push_back(std::move(buffer));
        }
    }
    returned.notify_one();
}

void FramePool::close() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closed = true;
    }
    returned.notify_all();
}

}  // namespace pelmora
