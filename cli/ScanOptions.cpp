#include "ScanOptions.h"

#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

// Whole decimal numbers only: "20" but not "20x", "2.5", " 20" or "".
bool parseWhole(const std::string& text, int minimum, int maximum, int& number) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < minimum || value > maximum) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

}  // namespace

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments) {
    ParsedOptions parsed;
    ScanOptions& options = parsed.options;
    bool onlyVideos = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (onlyVideos || argument.empty() || argument[0] != '-' || argument == "-") {
            options.videos.push_back(argument);
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        const std::string::size_type equals = argument.find('=');
        if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        const bool takesValue = name == "-t" || name == "--threshold" || name == "-o" ||
                                name == "--output" || name == "-j" || name == "--jobs";
        if (takesValue && !hasValue) {
            if (i + 1 == arguments.size()) {
                parsed.error = "option " + name + " needs a value";
                return parsed;
            }
            value = arguments[++i];
        } else if (!takesValue && hasValue) {
            parsed.error = "option " + name + " takes no value";
            return parsed;
        }
        if (name == "--") {
            onlyVideos = true;
        } else if (name == "-t" || name == "--threshold") {
            if (!parseWhole(value, 0, ScanOptions::kMaximumThreshold, options.threshold)) {
                parsed.error = "threshold must be a whole number from 0 to 50, not '" + value + "'";
                return parsed;
            }
        } else if (name == "-o" || name == "--output") {
            if (value.empty()) {
                parsed.error = "the output directory must not be empty";
                return parsed;
            }
            options.outputDir = value;
        } else if (name == "-j" || name == "--jobs") {
            if (!parseWhole(value, 1, ScanOptions::kMaximumJobs, options.jobs)) {
                parsed.error = "jobs must be a whole number from 1 to 64, not '" + value + "'";
                return parsed;
            }
        } else if (name == "-q" || name == "--quiet") {
            options.quiet = true;
        } else if (name == "--verbose") {
            options.verbose = true;
        } else if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            parsed.error = "unknown option " + name;
            return parsed;
        }
    }
    if (options.videos.empty() && !options.help && !options.version) {
        parsed.error = "no video given";
    }
    return parsed;
}

std::vector<std::string> snapshotDirectories(const ScanOptions& options) {
    if (options.outputDir.empty() || options.videos.size() == 1) {
        return std::vector<std::string>(options.videos.size(), options.outputDir);
    }
    std::vector<std::string> directories;
    std::map<std::string, int> uses;
    for (const std::string& video : options.videos) {
        std::string name = std::filesystem::path(video).stem().string();
        if (name.empty() || name[0] == '.') {  // no hidden folders
            name = "video";
        }
        const int use = ++uses[name];
        if (use > 1) {
            name += "-" + std::to_string(use);
        }
        directories.push_back(options.outputDir + "/" + name);
    }
    return directories;
}

const char* scanUsage() {
    return "Usage: pelmora-scan [-t N | --threshold N] [-o DIR | --output DIR] [-q | --quiet] "
           "VIDEO...\n"
           "Saves every frame of each VIDEO that differs enough from the last saved one as a\n"
           "JPEG named after its time in the video.\n"
           "\n"
           "  -t, --threshold N  a colour difference above N counts as change (0..50, default "
           "20)\n"
           "  -o, --output DIR   save the snapshots in DIR, created if missing; with several\n"
           "                     videos, in DIR/NAME for each video's file NAME (default:\n"
           "                     the video's path without its extension)\n"
           "  -j, --jobs N       write snapshots on N threads (1..64, default: one for each\n"
           "                     processor); any N gives the same files\n"
           "  -q, --quiet        print neither progress nor the path of each snapshot\n"
           "      --verbose      also show the video decoder's own messages\n"
           "  -h, --help         show this help\n"
           "      --version      show the version\n"
           "\n"
           "Exit status: 0 all done, 1 a video did not open or a snapshot was not saved,\n"
           "2 usage error, 128 + the signal's number when stopped by SIGINT (130),\n"
           "SIGTERM (143) or SIGHUP (129).\n";
}
