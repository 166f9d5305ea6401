#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "ScanOptions.h"

// What pelmora-scan's options cannot be given together, each rule once: the steps that stand
// apart from a batch, a sweep's, the objects detector's, and what must be given at all. The first
// conflict, worded for the user, or empty; parser holds what was given.
std::string optionConflict(const ScanOptions& options, const CLI::App& parser);
