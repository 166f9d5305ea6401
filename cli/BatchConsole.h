#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

// The two output streams of a batch whose videos may run at once, as a batch of one video after
// another has them: each video's lines on the error stream and its summary on the output come
// after those of every video before it in the batch, never mixed into them, and every line
// whole. The first video not yet done writes as it goes; a later one's lines are held until
// every video before it is done, so the error stream reads the same however many run at once.
// Safe to call from every run's thread.
class BatchConsole {
public:
    // videos: the batch's size; atOnce: how many run at once, which decides what the progress
    // line shows; progressShown: whether there is one (a terminal, not --quiet).
    BatchConsole(std::size_t videos, int atOnce, bool progressShown, std::FILE* out,
                 std::FILE* err);

    // A whole line (with its '\n') of the run of video. Held while a video before it is
    // unfinished; a run that holds kMostHeldBytes waits until its turn, as it would on a full
    // pipe, so that memory stays bounded however long the video before it runs.
    void write(std::size_t video, const std::string& line);

    // How far the run of video is: percent of its frames, frames read in seconds.
    void progress(std::size_t video, int percent, long long frames, double seconds);

    // video is done, summary its line on the output: printed, and the lines held after it
    // written, once every video before it is done.
    void finish(std::size_t video, const std::string& summary);

    // The errno of the first summary the output did not take; 0 while it took every one.
    int outputError();

    // A line of the batch's own on the error stream, after the progress line is removed.
    void writeLine(const std::string& line);

    // The lines one run may hold while a video before it runs: about ten thousand snapshots'.
    static constexpr std::size_t kMostHeldBytes = 1 << 20;

private:
    using Clock = std::chrono::steady_clock;

    struct Video {
        std::string heldLines;
        std::string summary;
        bool finished = false;
        int percent = -1;  // -1: no progress heard, or finished
    };

    // With the lock held:
    void put(const std::string& text);
    void clearProgress();
    void drawProgress(const std::string& text);
    std::string batchProgress() const;

    const int atOnce;
    const bool progressShown;
    std::FILE* const out;
    std::FILE* const err;
    std::mutex mutex;
    std::condition_variable turn;
    std::vector<Video> videos;
    std::size_t first = 0;  // the first video not yet done; it writes as it goes
    std::size_t done = 0;
    bool progressDrawn = false;
    int lostOutput = 0;
    Clock::time_point lastDrawn;
};
