#pragma once

#include <csignal>
#include <nlohmann/json.hpp>
#include <string>

#include "RunFolder.h"
#include "ScanOptions.h"
#include "ScanSummary.h"
#include "VideoBatch.h"

struct VideoScan {
    VideoOutcome outcome;
    bool failed = false;  // not opened or not read through, or a snapshot, list, clip, report or
                          // record not saved
};

// One video scanned whole into its folder as the options say, its record written when nothing
// was lost; settings are resultSettings(options).
VideoScan scanVideo(const ScanOptions& options, const nlohmann::json& settings,
                    const BatchEntry& entry, const volatile std::sig_atomic_t& stopSignal,
                    bool terminal);
