#include "FrameReader.h"

#include <utility>

namespace pelmora {

FrameReader::FrameReader(VideoSource& source, std::size_t readAhead)
    : source(source), readAhead(readAhead) {
    thread = std::thread(&FrameReader::readAll, this);
}

FrameReader::~FrameReader() {
    stop();
}

void FrameReader::readAll() {
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [this] { return stopping || ready.size() < readAhead; });
                if (stopping) {
                    break;
                }
            }
            Picture picture;
            if (!source.next(picture)) {
                break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex);
                ready.push_back(std::move(picture));
            }
            changed.notify_all();
        }
    } catch (...) {
        std::lock_guard<std::mutex> lock(mutex);
        failure = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        finished = true;
    }
    changed.notify_all();
}

bool FrameReader::next(Picture& picture) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return !ready.empty() || finished; });
    if (!ready.empty()) {
        picture = std::move(ready.front());
        ready.pop_front();
        lock.unlock();
        changed.notify_all();
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
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
    std::lock_guard<std::mutex> lock(mutex);
    ready.clear();
}

}  // namespace pelmora
