#pragma once

#include <string>
#include <vector>

#include "SweepContent.h"

namespace pelmora {

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
