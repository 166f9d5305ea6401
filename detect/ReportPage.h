#pragma once

#include <string>
#include <vector>

#include "ClipWriter.h"
#include "DetectionRun.h"
#include "EventGrouper.h"
#include "RunObserver.h"
#include "Timeline.h"

namespace pelmora {

// Everything the report of one run shows.
struct ReportContent {
    RunFacts facts;
    RunReport report;
    long long durationMs = 0;  // of the frames read
    long long eventGapMs = 0;
    std::vector<TimelineBucket> buckets;
    std::vector<MotionEvent> events;
    bool clipsWanted = false;  // a column of clips, linked where saved
    std::vector<ClipOutcome> clips;
};

// The report of a run as one self-contained HTML page, to be saved in the snapshot folder: a
// header with the video and the run's settings and counts, the timeline chart, and a table of
// the events with each one's peak snapshot shown small, linking to the file beside the page.
// Styles and the chart are inline; nothing is fetched from elsewhere, no script runs, and the
// page prints. Every text that comes from a path is escaped.
std::string reportPage(const ReportContent& content);

}  // namespace pelmora
