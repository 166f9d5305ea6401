#pragma once

#include <optional>
#include <string>
#include <vector>

#include "DetectionRun.h"
#include "KnownMoments.h"
#include "SweepTally.h"

// One video's line on the standard output once it is done: text for people, or a JSON object
// (JSON Lines) for programs, so that the lines of many processes can simply be concatenated.
enum class SummaryFormat { Text, Json };

// What a sweep of every setting found in one video, to be shown with its line.
struct SweepOutcome {
    std::vector<pelmora::SweepRow> rows;
    std::vector<pelmora::KnownMoment> moments;
};

struct VideoOutcome {
    std::string video;
    pelmora::RunReport report;
    double seconds = 0.0;
    bool skipped = false;  // done by an earlier run, as its record says
    std::optional<SweepOutcome> sweep{};
    // What the run could not do, as it said it (a snapshot, list, report, clip or record not
    // saved, the video not read through), one a line: a run that read its video to the end may
    // still have failed.
    std::vector<std::string> failures{};

    bool failed() const;
};

// With a sweep, the text is followed by its table and the suggested setting; the JSON object
// carries them as "sweep". Quiet, where no line names the files saved, the text ends with the
// folder they went into ("; files in DIR").
std::string summaryLine(SummaryFormat format, const VideoOutcome& outcome, bool quiet = false);

// What a batch of videos came to, for one last line on the error stream: the per-video lines
// of a long batch have scrolled away by the time it ends.
struct BatchTotal {
    int videos = 0;  // in the batch, including those a stop left unread
    int finished = 0;
    int stopped = 0;
    int failed = 0;   // not opened, not scanned, not read through, or a file it lost
    int skipped = 0;  // done by an earlier run
    long long frames = 0;
    long long written = 0;
    long long lost = 0;

    void add(const VideoOutcome& outcome);
};

std::string batchTotalLine(const BatchTotal& total, double seconds);
