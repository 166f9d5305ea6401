#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "KnownMoments.h"
#include "RunObserver.h"
#include "RunReport.h"
#include "SweepTally.h"

namespace pelmora {

// Everything the page of one sweep shows.
struct SweepPageContent {
    RunFacts facts;
    RunReport report;
    long long eventGapMs = 0;
    std::vector<SweepRow> rows;
    std::vector<KnownMoment> moments;
    std::size_t mostReferences = 0;
    std::string madeAt;  // when the page was made, as people read it; empty: not said
};

// The snapshots and events of every setting by threshold, as an inline SVG element: for each
// trigger size a solid line of snapshots and a dashed one of events, thresholds left to right,
// counts on a logarithmic scale (1 to the power of ten above the most), and the suggested
// threshold marked.
std::string sweepChart(const std::vector<SweepRow>& rows, const SweepSuggestion& suggestion);

// The page of a sweep, to be saved beside its table: the video and what was swept, the chart,
// how to read its knee, the suggested setting and why, and the table by threshold. One
// self-contained HTML file, as the report of a run is.
std::string sweepPage(const SweepPageContent& content);

}  // namespace pelmora
