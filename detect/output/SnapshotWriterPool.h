#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <opencv2/core.hpp>
#include <string>
#include <thread>
#include <vector>

#include "FramePool.h"
#include "SnapshotWriter.h"

namespace pelmora {

// Encodes and writes snapshots on a few threads of their own while the run goes on. The queue
// is short, so a run that saves faster than its writers waits for them rather than piling up
// frames; each image goes back to the frame pool once written. Results come back in the order
// the snapshots were handed in, whatever order the writers finish in.
class SnapshotWriterPool {
public:
    using Done = std::function<void(const std::string& path, const WriteResult& result)>;

    SnapshotWriterPool(int writers, FramePool& pool);
    // Writes whatever is still queued, then waits for the writers.
    ~SnapshotWriterPool();
    SnapshotWriterPool(const SnapshotWriterPool&) = delete;
    SnapshotWriterPool& operator=(const SnapshotWriterPool&) = delete;

    // Queues a snapshot, waiting while the queue is full.
    void submit(std::string path, cv::Mat image);

    // Calls done, on the caller's thread and in the order of submission, for every snapshot
    // that is written by now and has no unwritten one before it; with waitForAll, for all. A
    // writer that threw is told as a snapshot not saved, with the exception's message; once all
    // are told, the first such exception is thrown here, on the caller's thread.
    void collect(bool waitForAll, const Done& done);

    // Writers a run uses when it is not told: enough to keep up on this machine.
    static int defaultWriters();

private:
    struct Job {
        std::size_t sequence;
        std::string path;
        cv::Mat image;
    };
    struct Outcome {
        std::string path;
        WriteResult result;
        bool finished = false;
        std::exception_ptr thrown;
    };

    void work();

    FramePool& pool;
    const std::size_t queueCapacity;
    std::mutex mutex;
    std::condition_variable jobQueued;
    std::condition_variable jobTaken;
    std::condition_variable jobFinished;
    std::deque<Job> queue;
    // One entry per snapshot not yet collected, the oldest first.
    std::deque<Outcome> outcomes;
    std::size_t firstSequence = 0;
    std::size_t nextSequence = 0;
    bool closing = false;
    std::vector<std::thread> threads;
};

}  // namespace pelmora
