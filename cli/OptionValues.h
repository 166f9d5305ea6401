#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "EventExports.h"
#include "ObjectDetector.h"
#include "OptionTable.h"
#include "RegionShapes.h"

// The values pelmora-scan's options take, read and checked as the option table says: each
// check names the problem and the value as given.

// A check of an option's value: the problem it states, and the value as given, so that a typo is
// easy to spot. The empty description keeps the help's value names plain.
CLI::Validator valueCheck(std::function<bool(const std::string&)> accepts, std::string problem);

// Whole decimal numbers only, in the option's range: "20" but not "20x", "2.5", " 20", "-1" or
// "".
CLI::Validator wholeNumber(const pelmora::OptionEntry& entry);

// "1.25" seconds as 1250 milliseconds, from whole digits with up to three decimals.
long long milliseconds(const std::string& text);

// Seconds as whole or decimal digits, to the millisecond at most, in the option's range: "2",
// "0.5", "1.250", but not ".5", "5.", "1.2345", "-1" or "".
CLI::Validator seconds(const pelmora::OptionEntry& entry);

// "N" as a whole number from minimum to maximum, as wholeNumber takes it; nothing for anything
// else.
std::optional<long long> wholeIn(const std::string& text, long long minimum, long long maximum);

// "T1:T2", thresholds of a run's range with T1 <= T2, as the first and last threshold.
std::optional<std::pair<int, int>> sweepRange(const std::string& text);

// "0.05%": a share of the picture; "400": pixels. Nothing for anything else.
std::optional<pelmora::ObjectSettings> objectSize(const std::string& text);

// "10,100,1000": trigger sizes in --min-pixels' range, at least one.
std::optional<std::vector<int>> triggerList(const std::string& text);

// One of the option's choices, as what names them says: "the clock must be index or stream".
CLI::Validator oneOf(const pelmora::OptionEntry& entry, const std::string& what);

// "edl,json": formats of --export, each at most once; the problem names the one that is not.
CLI::Validator exportFormats();

// A polygon as --region and --exclude take it (see parsePolygon).
CLI::Validator polygonPoints();
