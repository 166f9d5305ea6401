#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "ScanSummary.h"
#include "VideoBatch.h"

// What pelmora-scan was asked to do.
struct ScanOptions {
    static constexpr int kDefaultThreshold = 20;
    static constexpr int kMaximumThreshold = 50;
    static constexpr int kMaximumJobs = 64;

    int threshold = kDefaultThreshold;
    std::string outputDir;  // empty: derived from each video's path
    int jobs = 0;           // snapshot writers; 0: enough for this machine
    bool quiet = false;
    bool verbose = false;  // let the decoder's own messages through
    bool help = false;
    bool version = false;
    std::vector<std::string> videos;  // files and folders, as given
    // Batch work.
    std::string listFile;  // more videos, one a line; "-" for standard input
    std::optional<Shard> shard;
    bool resume = false;  // skip the videos a matching record says are done
    SummaryFormat summary = SummaryFormat::Text;
};

struct ParsedOptions {
    ScanOptions options;
    std::string error;  // non-empty for a usage error
};

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments);

// The options that change the files a run leaves, by name, for the record that --resume
// compares.
nlohmann::json resultSettings(const ScanOptions& options);

// What --help prints, and every usage error after its message.
std::string scanUsage();
std::string versionText();
