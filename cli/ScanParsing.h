#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>
#include <vector>

#include "ScanOptions.h"

// How pelmora-scan reads its command line, in the steps its files share; parseScanOptions puts
// them together.

// The help's layout: the usages, then each option wrapped to a terminal's width.
std::shared_ptr<CLI::Formatter> scanHelpFormatter();

// "pelmora-scan 1.2.3", as --version says it.
std::string versionLine();

// Every option of the table, bound to where its value goes in options.
std::unique_ptr<CLI::App> makeScanParser(ScanOptions& options);

// The arguments with --clips' mode and --sweep's range joined to their option, or their default
// given, so that the parser never takes a video for either.
std::vector<std::string> withOptionalValues(const std::vector<std::string>& arguments);

// Why "--name=" or "--flag=value" is a mistake, or empty when no argument before "--" is one.
std::string misplacedValue(const CLI::App& parser, const std::vector<std::string>& arguments);
