#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "ScanOptions.h"
#include "StopSignal.h"

// What a stretch's record says of the video file and the options, by name, for the join to
// compare: the file's path, size and modification time, each setting, and the version.
std::vector<std::pair<std::string, std::string>> segmentIdentity(const std::string& video,
                                                                 const nlohmann::json& settings);

// pelmora-scan --segment K/N VIDEO and pelmora-scan --join DIR; each returns the exit status
// (0, 1, or 128 + the signal that stopped it).
int scanSegmentCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal);
int joinCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal);
