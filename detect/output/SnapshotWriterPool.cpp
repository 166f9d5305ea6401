#include "SnapshotWriterPool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <utility>

namespace pelmora {

namespace {
constexpr int kWriterNiceness = 10;
}  // namespace

SnapshotWriterPool::SnapshotWriterPool(int writers, FramePool& pool)
    : pool(pool), queueCapacity(static_cast<std::size_t>(std::max(writers, 1))) {
    for (int i = 0; i < std::max(writers, 1); ++i) {
        threads.emplace_back(&SnapshotWriterPool::work, this);
    }
}

SnapshotWriterPool::~SnapshotWriterPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        closing = true;
    }
    jobQueued.notify_all();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

int SnapshotWriterPool::defaultWriters() {
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void SnapshotWriterPool::submit(std::string path, cv::Mat image) {
    std::unique_lock<std::mutex> lock(mutex);
    jobTaken.wait(lock, [this] { return queue.size() < queueCapacity; });
    outcomes.push_back({path, WriteResult(), false, nullptr});
    queue.push_back({nextSequence++, std::move(path), std::move(image)});
    lock.unlock();
    jobQueued.notify_one();
}

void SnapshotWriterPool::collect(bool waitForAll, const Done& done) {
    std::vector<Outcome> ready;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!outcomes.empty()) {
            if (!outcomes.front().finished) {
                if (!waitForAll) {
                    break;
                }
                jobFinished.wait(lock, [this] { return outcomes.front().finished; });
            }
            ready.push_back(std::move(outcomes.front()));
            outcomes.pop_front();
            ++firstSequence;
        }
    }
    std::exception_ptr thrown;
    for (const Outcome& outcome : ready) {
        done(outcome.path, outcome.result);
        if (!thrown) {
            thrown = outcome.thrown;
        }
    }
    if (thrown) {
        std::rethrow_exception(thrown);
    }
}

void SnapshotWriterPool::work() {
    // Decoding sets the pace of a run; encoding only has to keep up, and the short queue makes
    // the run wait for it when it does not. So the writers yield to the decoder's threads and
    // take what time they leave. (Raising one's niceness is always allowed; a failure changes
    // nothing but the pace.)
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int niceness = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0) {
        ::setpriority(PRIO_PROCESS, self, niceness + kWriterNiceness);
    }
    SnapshotWriter writer;
    while (true) {
        std::unique_lock<std::mutex> lock(mutex);
        jobQueued.wait(lock, [this] { return closing || !queue.empty(); });
        if (queue.empty()) {
            return;
        }
        Job job = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        jobTaken.notify_one();

        WriteResult result;
        // Thrown here it would end the program; the run it belongs to fails instead.
        std::exception_ptr thrown;
        try {
            result = writer.write(job.path, job.image);
        } catch (const std::exception& error) {
            result = {false, error.what()};
            thrown = std::current_exception();
        } catch (...) {
            result = {false, "an unknown error"};
            thrown = std::current_exception();
        }
        pool.release(std::move(job.image));

        lock.lock();
        Outcome& outcome = outcomes[job.sequence - firstSequence];
        outcome.result = std::move(result);
        outcome.thrown = thrown;
        outcome.finished = true;
        lock.unlock();
        jobFinished.notify_all();
    }
}

}  // namespace pelmora
