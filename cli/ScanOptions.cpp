#include "ScanOptions.h"

#include <CLI/CLI.hpp>
#include <memory>

namespace {

// Whole decimal numbers only, in a range: "20" but not "20x", "2.5", " 20", "-1" or "". The
// message names the value as given, so that a typo is easy to spot.
CLI::Validator wholeNumber(const std::string& what, int minimum, int maximum) {
    return CLI::Validator(
        [what, minimum, maximum](std::string& text) -> std::string {
            const bool digits = !text.empty() && text.size() <= 9 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            const long value = digits ? std::stol(text) : -1;
            if (!digits || value < minimum || value > maximum) {
                return what + " must be a whole number from " + std::to_string(minimum) + " to " +
                       std::to_string(maximum) + ", not '" + text + "'";
            }
            return std::string();
        },
        std::string());
}

// The help as a man page's synopsis would have it: the usage, what the program does, then each
// option with its value, its meaning and its default, wrapped to a terminal's width.
class ScanFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode) const override {
        std::string help =
            "Usage: " + name + " [OPTIONS] VIDEO...\n" + app->get_description() + "\n\nOptions:\n";
        // Help and version last, after the options that change what a scan does.
        std::vector<const CLI::Option*> options;
        for (const CLI::Option* option : app->get_options()) {
            if (!option->get_positional() && option != app->get_help_ptr() &&
                option != app->get_version_ptr()) {
                options.push_back(option);
            }
        }
        options.push_back(app->get_help_ptr());
        options.push_back(app->get_version_ptr());
        for (const CLI::Option* option : options) {
            std::string names;
            for (const std::string& shortName : option->get_snames()) {
                names += "-" + shortName + ", ";
            }
            if (names.empty()) {
                names = "    ";
            }
            names += "--" + option->get_lnames().front();
            if (option->get_expected_max() != 0) {
                names += " " + option->get_type_name();
            }
            help += wrapped("  " + names, option->get_description());
        }
        return help + "\n" + app->get_footer() + "\n";
    }

private:
    static constexpr std::size_t kColumn = 24;
    static constexpr std::size_t kWidth = 80;

    // lead, then text from the column on, broken between words.
    static std::string wrapped(std::string lead, const std::string& text) {
        std::string out;
        std::string line = lead.size() < kColumn - 1
                               ? lead + std::string(kColumn - lead.size(), ' ')
                               : lead + "\n" + std::string(kColumn, ' ');
        std::size_t start = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
        std::size_t at = 0;
        bool first = true;
        while (at < text.size()) {
            std::size_t end = text.find(' ', at);
            end = end == std::string::npos ? text.size() : end;
            const std::string word = text.substr(at, end - at);
            if (!first && line.size() - start + 1 + word.size() > kWidth) {
                out += line + "\n";
                line = std::string(kColumn, ' ');
                start = 0;
                first = true;
            }
            line += (first ? "" : " ") + word;
            first = false;
            at = end + 1;
        }
        return out + line + "\n";
    }
};

// Every option, its default and its help, in the order --help lists them.
std::unique_ptr<CLI::App> makeParser(ScanOptions& options) {
    auto app = std::make_unique<CLI::App>(
        "Saves every frame of each VIDEO that differs enough from the last saved one as a\n"
        "JPEG named after its time in the video.",
        "pelmora-scan");
    app->formatter(std::make_shared<ScanFormatter>());
    app->option_defaults()->disable_flag_override();
    app->set_help_flag("-h,--help", "show this help");
    app->set_version_flag("--version", std::string("pelmora-scan ") + PELMORA_VERSION,
                          "show the version");

    app->add_option("-t,--threshold", options.threshold,
                    "a colour difference above N counts as change (0..50, default 20)")
        ->type_name("N")
        ->check(wholeNumber("threshold", 0, ScanOptions::kMaximumThreshold));
    app->add_option("-o,--output", options.outputDir,
                    "save the snapshots in DIR, created with its parents if missing; with "
                    "several videos, in DIR/NAME for each video's file NAME (default: the "
                    "video's path without its extension)")
        ->type_name("DIR")
        ->check(CLI::Validator(
            [](std::string& text) {
                return text.empty() ? std::string("the output directory must not be empty")
                                    : std::string();
            },
            ""));
    app->add_option("-j,--jobs", options.jobs,
                    "write snapshots on N threads (1..64, default: one for each processor); "
                    "any N gives the same files")
        ->type_name("N")
        ->check(wholeNumber("jobs", 1, ScanOptions::kMaximumJobs));
    app->add_flag("-q,--quiet", options.quiet,
                  "print neither progress nor the path of each snapshot");
    app->add_flag("--verbose", options.verbose, "also show the video decoder's own messages");
    app->add_option("--list", options.listFile,
                    "also scan the videos listed in FILE, one path a line ('-': the standard "
                    "input; blank lines and lines starting with # are skipped)")
        ->type_name("FILE");
    app->add_option_function<std::string>(
           "--shard", [&options](const std::string& text) { options.shard = parseShard(text); },
           "scan only share K of N (0 <= K < N): the videos at positions K, K + N, K + 2N, ... "
           "of the sorted list without repeats, so that N processes split a batch without "
           "talking to each other (default: every video, in the order given)")
        ->type_name("K/N")
        ->check(CLI::Validator(
            [](std::string& text) {
                return parseShard(text)
                           ? std::string()
                           : "the shard must be K/N with 0 <= K < N, not '" + text + "'";
            },
            std::string()));
    app->add_flag("--resume", options.resume,
                  "skip each video whose record (.pelmora-run.json in its snapshot folder) says "
                  "it was scanned to its end with the same settings; scan the others from the "
                  "start, removing the snapshots of an unfinished run first");
    app->add_option_function<std::string>(
           "--summary",
           [&options](const std::string& text) {
               options.summary = text == "json" ? SummaryFormat::Json : SummaryFormat::Text;
           },
           "text, or json: one JSON object per video on the standard output (default: text)")
        ->type_name("FORMAT")
        ->check(CLI::Validator(
            [](std::string& text) {
                return text == "text" || text == "json"
                           ? std::string()
                           : "the summary must be text or json, not '" + text + "'";
            },
            std::string()));
    app->add_option("VIDEO", options.videos,
                    "the videos to scan, in this order; a folder stands for the video files "
                    "below it");
    app->footer(
        "Exit status: 0 all done, 1 a video did not open or a snapshot was not saved,\n"
        "2 usage error, 128 + the signal's number when stopped by SIGINT (130),\n"
        "SIGTERM (143) or SIGHUP (129).");
    return app;
}

}  // namespace

namespace {

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

}  // namespace

ParsedOptions parseScanOptions(const std::vector<std::string>& arguments) {
    ParsedOptions parsed;
    const auto parser = makeParser(parsed.options);
    parsed.error = misplacedValue(*parser, arguments);
    if (!parsed.error.empty()) {
        return parsed;
    }
    // The parser takes the arguments last first.
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        parser->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        parsed.options.help = true;
        return parsed;
    } catch (const CLI::CallForVersion&) {
        parsed.options.version = true;
        return parsed;
    } catch (const CLI::ParseError& error) {
        parsed.error = error.what();
        return parsed;
    }
    if (parsed.options.videos.empty() && parsed.options.listFile.empty()) {
        parsed.error = "no video given";
    }
    return parsed;
}

nlohmann::json resultSettings(const ScanOptions& options) {
    return {{"threshold", options.threshold}};
}

std::string scanUsage() {
    ScanOptions options;
    return makeParser(options)->help();
}

std::string versionText() {
    return std::string("pelmora-scan ") + PELMORA_VERSION + "\n";
}
