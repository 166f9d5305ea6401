#include "ConsoleRunHost.h"

#include <cstdio>

#include "TextFormat.h"

std::string runProgressLine(int percent, long long frames, double seconds) {
    const double rate = seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0;
    std::string left = "--";
    if (percent > 0) {
        left = pelmora::timeLeft(seconds * (100.0 - percent) / percent);
    }
    return pelmora::formatText("%3d%%  %.1f frames/s  %s left", percent, rate, left.c_str());
}

ConsoleRunHost::ConsoleRunHost(const StopSignal& stopFlag, bool quiet, bool terminal)
    : stopFlag(stopFlag), quiet(quiet), showProgress(terminal && !quiet) {}

void ConsoleRunHost::tell(const pelmora::RunMessage& message) {
    if (quiet && message.logKind() == pelmora::LogKind::SnapshotSaved) {
        return;
    }
    clearProgress();
    RunHost::tell(message);
}

void ConsoleRunHost::progress(int percent) {
    if (!showProgress) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (progressShown && percent < 100 && now - lastDrawn < kProgressRedrawInterval) {
        return;
    }
    lastDrawn = now;
    std::fprintf(stderr, "\r\033[K%s", runProgressLine(percent, frames, secondsElapsed()).c_str());
    std::fflush(stderr);
    progressShown = true;
}

bool ConsoleRunHost::stopAfterFrame() {
    ++frames;
    return stopFlag != 0;
}

void ConsoleRunHost::clearProgress() {
    if (progressShown) {
        std::fputs("\r\033[K", stderr);
        progressShown = false;
    }
}

double ConsoleRunHost::secondsElapsed() const {
    return std::chrono::duration<double>(Clock::now() - start).count();
}
