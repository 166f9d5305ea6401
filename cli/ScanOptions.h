#pragma once

#include <string>
#include <vector>

// What pelmora-scan was asked to do.
struct ScanOptions {
    static constexpr int kDefaultThreshold = 20;
    static constexpr int kMaximumThreshold = 50;

    int threshold = kDefaultThreshold;
    std::string outputDir;  // empty: derived from each video's path
    bool quiet = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> videos;
};

struct ParsedOptions {
    ScanOptions options;
    std::string error;  // non-empty for a usage error
};

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments);

const char* scanUsage();
