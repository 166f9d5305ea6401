#pragma once

#include <string>

#include "DetectionRun.h"

// One video's line on the standard output once it is done: text for people, or a JSON object
// (JSON Lines) for programs, so that the lines of many processes can simply be concatenated.
enum class SummaryFormat { Text, Json };

struct VideoOutcome {
    std::string video;
    pelmora::RunReport report;
    double seconds = 0.0;
    bool skipped = false;  // done by an earlier run, as its record says
};

std::string summaryLine(SummaryFormat format, const VideoOutcome& outcome);
