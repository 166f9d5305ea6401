#include "BatchConsole.h"

#include "ConsoleRunHost.h"
#include "StandardOutput.h"
#include "TextFormat.h"

BatchConsole::BatchConsole(std::size_t videos, int atOnce, bool progressShown, std::FILE* out,
                           std::FILE* err)
    : atOnce(atOnce), progressShown(progressShown), out(out), err(err), videos(videos) {}

void BatchConsole::write(std::size_t video, const std::string& line) {
    std::unique_lock<std::mutex> lock(mutex);
    turn.wait(lock,
              [&] { return video == first || videos[video].heldLines.size() < kMostHeldBytes; });
    if (video == first) {
        put(line);
    } else {
        videos[video].heldLines += line;
    }
}

void BatchConsole::progress(std::size_t video, int percent, long long frames, double seconds) {
    if (!progressShown) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    videos[video].percent = percent;
    const Clock::time_point now = Clock::now();
    if (progressDrawn && percent < 100 && now - lastDrawn < kProgressRedrawInterval) {
        return;
    }
    lastDrawn = now;
    // One video at a time has its own line, as a single run does; several at once share one
    // line, since no single rate or time left tells how far the batch is.
    drawProgress(atOnce == 1 ? runProgressLine(percent, frames, seconds) : batchProgress());
}

void BatchConsole::finish(std::size_t video, const std::string& summary) {
    std::lock_guard<std::mutex> lock(mutex);
    Video& done = videos[video];
    done.summary = summary;
    done.finished = true;
    done.percent = -1;
    ++this->done;
    while (first < videos.size() && videos[first].finished) {
        Video& next = videos[first];
        put(next.heldLines);
        next.heldLines = std::string();
        clearProgress();
        if (const int error = putOutput(out, next.summary); error != 0 && lostOutput == 0) {
            lostOutput = error;
        }
        ++first;
    }
    // The new first video's lines so far go out now; from here on it writes as it goes.
    if (first < videos.size() && !videos[first].heldLines.empty()) {
        put(videos[first].heldLines);
        videos[first].heldLines = std::string();
    }
    turn.notify_all();
}

int BatchConsole::outputError() {
    std::lock_guard<std::mutex> lock(mutex);
    return lostOutput;
}

void BatchConsole::writeLine(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex);
    put(line);
}

void BatchConsole::put(const std::string& text) {
    if (text.empty()) {
        return;
    }
    clearProgress();
    std::fwrite(text.data(), 1, text.size(), err);
    std::fflush(err);
}

void BatchConsole::clearProgress() {
    if (progressDrawn) {
        std::fputs("\r\033[K", err);
        std::fflush(err);
        progressDrawn = false;
    }
}

void BatchConsole::drawProgress(const std::string& text) {
    std::fprintf(err, "\r\033[K%s", text.c_str());
    std::fflush(err);
    progressDrawn = true;
}

namespace {

// The running videos whose percentages the line shows, the first ones in the batch's order: the
// line must fit an 80-column terminal, since a redraw clears only the row it is on, and a
// batch of 64 at once would wrap.
constexpr std::size_t kMostPercentsShown = 6;

}  // namespace

// "3 of 16 videos done, 2 running: 45% 12%", the running ones in the batch's order; past
// kMostPercentsShown, "... +10 more".
std::string BatchConsole::batchProgress() const {
    std::string running;
    std::size_t count = 0;
    for (std::size_t i = first; i < videos.size(); ++i) {
        if (!videos[i].finished && videos[i].percent >= 0) {
            if (count < kMostPercentsShown) {
                running += pelmora::formatText(" %d%%", videos[i].percent);
            }
            ++count;
        }
    }
    if (count > kMostPercentsShown) {
        running += pelmora::formatText(" +%zu more", count - kMostPercentsShown);
    }
    return pelmora::formatText("%zu of %zu videos done, %zu running:", done, videos.size(), count) +
           running;
}
