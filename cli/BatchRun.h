#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <vector>

#include "ScanOptions.h"
#include "ScanSummary.h"
#include "StopSignal.h"
#include "VideoBatch.h"
#include "VideoScan.h"

// How a batch shares the machine: how many videos run at once, and what each run takes.
struct BatchShares {
    int videosAtOnce = 1;
    RunShare run;
};

// For a batch of videos on a machine of processors: given is --videos-at-once and jobs is -j
// (0 where not given). Several at once, each run's writers and decoder threads are its share
// of the processors, so that the batch has about as many threads busy as one video alone would;
// one at a time, the run takes the whole machine as a single video does.
BatchShares batchShares(unsigned processors, std::size_t videos, int given, int jobs);

struct BatchResult {
    BatchTotal total;
    // A video did not open, was not read through, or lost a snapshot, list, clip, report or
    // record.
    bool failed = false;
    int outputError = 0;  // the errno of a summary the standard output did not take
};

// Runs the batch's videos in its order, as many at once as shares say, each from a black
// reference into its own folder. A video whose folder is that of one still running (the same
// video given twice) waits for it, so that each finds what the one before left, as one after
// another would. The summaries, the lines on the error stream, and the batch's total come in the
// batch's order, exactly as one video after another gives them. A stop signal lets no further
// video start and stops every running one after its current frame; the videos that ran are
// summed up. progressShown: a progress line is drawn on the error stream.
BatchResult runBatch(const ScanOptions& options, const nlohmann::json& settings,
                     const std::vector<BatchEntry>& batch, const BatchShares& shares,
                     const StopSignal& stopSignal, bool progressShown);
