#pragma once

#include <chrono>
#include <string>

#include "DetectionRun.h"
#include "StopSignal.h"

// How often a progress line is drawn again at most: often enough to see it move, seldom enough
// that drawing it costs nothing.
constexpr std::chrono::milliseconds kProgressRedrawInterval(200);

// The progress line of one run: "  42%  812.3 frames/s  1:07 left", for frames read in
// seconds.
std::string runProgressLine(int percent, long long frames, double seconds);

// Drives one run from a terminal or a script: the run's lines go to the standard error
// stream, a progress line is kept up to date there when it is a terminal, and a stop flag
// (set from the SIGINT handler) ends the run after the current frame.
class ConsoleRunHost : public pelmora::RunHost {
public:
    ConsoleRunHost(const StopSignal& stopFlag, bool quiet, bool terminal);

    void tell(const pelmora::RunMessage& message) override;
    void progress(int percent) override;
    bool stopAfterFrame() override;

    // Removes the progress line, if one is shown.
    void clearProgress();

    double secondsElapsed() const;

private:
    using Clock = std::chrono::steady_clock;

    const StopSignal& stopFlag;
    const bool quiet;
    const bool showProgress;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastDrawn;
    long long frames = 0;
    bool progressShown = false;
};
