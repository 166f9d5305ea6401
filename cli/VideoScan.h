#pragma once

#include <csignal>
#include <nlohmann/json.hpp>
#include <string>

#include "RunFolder.h"
#include "RunLog.h"
#include "ScanOptions.h"
#include "ScanSummary.h"
#include "VideoBatch.h"

// Holds the folder for the coming run and clears what an earlier run left in it, its
// snapshots too when asked, so that the lists, report and record there are of the coming run
// alone; earlier is what it found. Returns why the folder cannot be used, or nothing.
std::string readyFolder(const std::string& dir, bool withSnapshots, pelmora::FolderLock& lock,
                        pelmora::EarlierRun& earlier, pelmora::RunLog& log);

// Says how many snapshots of an earlier run stay beside those of the run just done, which
// wrote again the names it took itself.
void tellEarlierSnapshots(const std::string& dir, const pelmora::EarlierRun& earlier,
                          pelmora::RunLog& log);

struct VideoScan {
    VideoOutcome outcome;
    bool failed = false;  // not opened, or a snapshot, list, clip, report or record not saved
};

// One video scanned whole into its folder as the options say, its record written when nothing
// was lost; settings are resultSettings(options).
VideoScan scanVideo(const ScanOptions& options, const nlohmann::json& settings,
                    const BatchEntry& entry, const volatile std::sig_atomic_t& stopSignal,
                    bool terminal);
