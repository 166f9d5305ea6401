#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "OptionTable.h"
#include "ScanParsing.h"

// --clips takes its mode, and --sweep its range, only when one follows it, so that "--clips
// VIDEO" scans the video: the parser would take the video for the mode.
std::vector<std::string> withOptionalValues(const std::vector<std::string>& arguments) {
    const pelmora::OptionEntry& modes = pelmora::option::kClips;
    const pelmora::OptionEntry& threshold = pelmora::option::kThreshold;
    // A range is digits and a colon, or digits alone for one threshold; a video of such a
    // name is given as ./10 or after --.
    const auto looksLikeRange = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789:") == std::string::npos;
    };
    std::vector<std::string> joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--") {
            joined.insert(joined.end(), arguments.begin() + static_cast<long>(i), arguments.end());
            break;
        }
        const bool next = i + 1 < arguments.size();
        if (arguments[i] == "--clips") {
            if (next &&
                (arguments[i + 1] == modes.choices[0] || arguments[i + 1] == modes.choices[1])) {
                joined.push_back("--clips=" + arguments[++i]);
            } else {
                joined.push_back(std::string("--clips=") + modes.choices[0]);
            }
        } else if (arguments[i] == "--sweep") {
            if (next && looksLikeRange(arguments[i + 1])) {
                joined.push_back("--sweep=" + arguments[++i]);
            } else {
                joined.push_back("--sweep=" + std::to_string(threshold.minimum) + ":" +
                                 std::to_string(threshold.maximum));
            }
        } else {
            joined.push_back(arguments[i]);
        }
    }
    return joined;
}

// What the parser would take silently: "--threshold=" followed by the next argument as the
// value, and "--quiet=yes" as true. Both are mistakes on a command line.
std::string misplacedValue(const CLI::App& parser, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--") {
            break;
        }
        const std::string::size_type equals = argument.find('=');
        if (argument.rfind("--", 0) != 0 || equals == std::string::npos) {
            continue;
        }
        const std::string name = argument.substr(0, equals);
        const CLI::Option* option = parser.get_option_no_throw(name);
        if (option == nullptr) {
            continue;
        }
        if (option->get_expected_max() == 0) {
            return name + " takes no value";
        }
        if (equals + 1 == argument.size()) {
            return name + " needs a value, not ''";
        }
    }
    return std::string();
}
