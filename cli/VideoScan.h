#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "RunFolder.h"
#include "RunRequest.h"
#include "ScanOptions.h"
#include "ScanSummary.h"
#include "StopSignal.h"
#include "VideoBatch.h"

struct VideoScan {
    VideoOutcome outcome;
    bool failed = false;  // not opened or not read through, or a snapshot, list, clip, report or
                          // record not saved
};

// What one run takes of the machine; 0 for what a run alone takes.
struct RunShare {
    int writers = 0;         // snapshot writers
    int decoderThreads = 0;  // threads of the video's decoder
};

// One video scanned whole into its folder as the options say, its record written when nothing
// was lost, its lines to host; settings are resultSettings(options).
VideoScan scanVideo(const ScanOptions& options, const nlohmann::json& settings,
                    const BatchEntry& entry, const RunShare& share, const StopSignal& stopSignal,
                    pelmora::RunHost& host);
