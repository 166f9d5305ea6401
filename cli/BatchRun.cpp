#include "BatchRun.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "BatchConsole.h"
#include "RunRecord.h"
#include "VideoJob.h"

BatchShares batchShares(unsigned processors, std::size_t videos, int given, int jobs) {
    const int machine = static_cast<int>(std::max(processors, 1u));
    BatchShares shares;
    // One video's decoder keeps fewer processors busy than the machine has (about one and a
    // half of two with 720p H.264, far fewer of sixteen), so a batch fills the machine with
    // one video for each processor; a video more would only wait for a turn.
    const int byDefault =
        std::min(machine, static_cast<int>(pelmora::option::kVideosAtOnce.maximum));
    const int wanted = given > 0 ? given : byDefault;
    // Never more runs than videos: one that would get none only waits.
    shares.videosAtOnce =
        static_cast<int>(std::max<std::size_t>(1, std::min<std::size_t>(wanted, videos)));
    shares.run.writers = jobs;
    if (shares.videosAtOnce == 1) {
        return shares;
    }
    // The machine's processors shared out, at least one each: P runs that each started as many
    // writers and decoder threads as the machine has would hold P times the threads and the
    // decoder's pictures in flight, for processors they can only take turns on.
    const int share = std::max(1, machine / shares.videosAtOnce);
    if (jobs == 0) {
        shares.run.writers = share;
    }
    shares.run.decoderThreads = share;
    return shares;
}

namespace {

// The folder a run writes into, as one key for every spelling of it ("a" and "./a", or a
// path through a link): two videos of one folder must not run at once.
std::string folderKey(const BatchEntry& entry) {
    namespace fs = std::filesystem;
    const std::string folder = pelmora::VideoJob::snapshotFolder(entry.video, entry.outputDir);
    const fs::path path(folder.empty() ? std::string(".") : folder);
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? path.lexically_normal().string() : canonical.string();
}

// One video's run as the batch shows it: its lines and progress to the batch's console, and a
// stop asked for by a signal.
class BatchRunHost : public pelmora::RunHost {
public:
    BatchRunHost(BatchConsole& console, std::size_t video, bool quiet, const StopSignal& stopSignal)
        : console(console), video(video), quiet(quiet), stopSignal(stopSignal) {}

    void tell(const pelmora::RunMessage& message) override {
        const std::string line = pelmora::messageLine(message);
        if (message.logKind() == pelmora::LogKind::Failure) {
            failures.push_back(line);
        }
        if (quiet && message.logKind() == pelmora::LogKind::SnapshotSaved) {
            return;
        }
        console.write(video, line + "\n");
    }

    // Every failure the run told, as it told it, without its line end.
    std::vector<std::string> failures;

    void progress(int percent) override {
        const std::chrono::duration<double> seconds = Clock::now() - start;
        console.progress(video, percent, frames, seconds.count());
    }

    bool stopAfterFrame() override {
        ++frames;
        return stopSignal != 0;
    }

private:
    using Clock = std::chrono::steady_clock;

    BatchConsole& console;
    const std::size_t video;
    const bool quiet;
    const StopSignal& stopSignal;
    const Clock::time_point start = Clock::now();
    long long frames = 0;
};

class Batch {
public:
    Batch(const ScanOptions& options, const nlohmann::json& settings,
          const std::vector<BatchEntry>& batch, const BatchShares& shares,
          const StopSignal& stopSignal, bool progressShown)
        : options(options),
          settings(settings),
          batch(batch),
          shares(shares),
          stopSignal(stopSignal),
          console(batch.size(), shares.videosAtOnce, progressShown, stdout, stderr),
          outcomes(batch.size()),
          failures(batch.size(), false) {
        for (const BatchEntry& entry : batch) {
            folders.push_back(folderKey(entry));
        }
    }

    BatchResult run() {
        // This thread runs videos too, so that one at a time runs as a single video does.
        std::vector<std::thread> others;
        for (int i = 1; i < shares.videosAtOnce; ++i) {
            others.emplace_back(&Batch::work, this);
        }
        work();
        for (std::thread& thread : others) {
            thread.join();
        }
        BatchResult result;
        result.outputError = console.outputError();
        result.total.videos = static_cast<int>(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i) {
            if (outcomes[i]) {
                result.total.add(*outcomes[i]);
                result.failed = result.failed || failures[i];
            }
        }
        return result;
    }

private:
    void work() {
        while (const std::optional<std::size_t> video = take()) {
            runVideo(*video);
            {
                std::lock_guard<std::mutex> lock(mutex);
                busyFolders.erase(folders[*video]);
            }
            folderFreed.notify_all();
        }
    }

    // The next video in the batch's order, once no running video holds its folder; none when
    // every video has started or a stop was asked for. Videos start in order only, so that the
    // ones a stop leaves unread are the last.
    std::optional<std::size_t> take() {
        std::unique_lock<std::mutex> lock(mutex);
        // A stop wakes no one here; the running video it stops frees its folder soon after.
        folderFreed.wait(lock, [&] {
            return stopSignal != 0 || next >= batch.size() || busyFolders.count(folders[next]) == 0;
        });
        if (stopSignal != 0 || next >= batch.size()) {
            return std::nullopt;
        }
        busyFolders.insert(folders[next]);
        return next++;
    }

    void runVideo(std::size_t video) {
        const BatchEntry& entry = batch[video];
        VideoOutcome outcome;
        bool failed = false;
        std::optional<pelmora::RunReport> done;
        if (options.resume) {
            done = RunRecord(entry.video, settings).findDone(entry.outputDir);
        }
        if (done) {
            outcome = VideoOutcome{entry.video, *done, 0.0, true};
        } else {
            BatchRunHost host(console, video, options.quiet, stopSignal);
            const VideoScan scan =
                scanVideo(options, settings, entry, shares.run, stopSignal, host);
            outcome = scan.outcome;
            outcome.failures = host.failures;
            failed = scan.failed;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            outcomes[video] = outcome;
            failures[video] = failed;
        }
        console.finish(video, summaryLine(options.summary, outcome, options.quiet));
    }

    const ScanOptions& options;
    const nlohmann::json& settings;
    const std::vector<BatchEntry>& batch;
    const BatchShares shares;
    const StopSignal& stopSignal;
    BatchConsole console;
    std::vector<std::string> folders;

    std::mutex mutex;
    std::condition_variable folderFreed;
    std::size_t next = 0;
    std::set<std::string> busyFolders;
    std::vector<std::optional<VideoOutcome>> outcomes;
    std::vector<bool> failures;
};

}  // namespace

BatchResult runBatch(const ScanOptions& options, const nlohmann::json& settings,
                     const std::vector<BatchEntry>& batch, const BatchShares& shares,
                     const StopSignal& stopSignal, bool progressShown) {
    return Batch(options, settings, batch, shares, stopSignal, progressShown).run();
}
