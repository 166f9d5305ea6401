#pragma once

#include <string>
#include <vector>

#include "DetectionRun.h"
#include "FrameDetector.h"
#include "RunRecorder.h"
#include "WatchedRegion.h"

// What pelmora-scan was asked to do.
struct ScanOptions {
    static constexpr int kDefaultThreshold = 20;
    static constexpr int kMaximumThreshold = 50;
    static constexpr int kMaximumJobs = 64;
    static constexpr int kMaximumMinPixels = 100000000;
    static constexpr long long kMaximumEventGapMs = 86400000;

    int threshold = kDefaultThreshold;
    std::string outputDir;  // empty: derived from each video's path
    int jobs = 0;           // snapshot writers; 0: enough for this machine
    bool quiet = false;
    bool verbose = false;  // let the decoder's own messages through
    bool events = false;   // snapshots.csv and events.csv beside the snapshots
    long long eventGapMs = pelmora::RecordOptions::kDefaultEventGapMs;
    bool report = false;             // report.html too
    std::string maskPath;            // empty: the whole frame counts
    pelmora::WatchedRegion watched;  // read from maskPath
    int minPixels = pelmora::FrameDetector::kTriggerPixels;
    bool help = false;
    bool version = false;
    std::vector<std::string> videos;
};

struct ParsedOptions {
    ScanOptions options;
    std::string error;  // non-empty for a usage error
};

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments);

// Where each video's snapshots go, in the order of the videos; empty means derived from the
// video's path. With -o and several videos each gets a folder of its own inside DIR, named
// after the video's file, so that snapshots of equal times do not overwrite one another.
std::vector<std::string> snapshotDirectories(const ScanOptions& options);

// What one video's run is asked to do and to record, as the options say.
pelmora::RecordOptions recordOptions(const ScanOptions& options);
pelmora::RunRequest runRequest(const ScanOptions& options, const std::string& video,
                               const std::string& directory, pelmora::RunRecorder& recorder);

// What --help prints, and every usage error after its message.
std::string scanUsage();
std::string versionText();
