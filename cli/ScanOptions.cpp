#include "ScanOptions.h"

#include <CLI/CLI.hpp>
#include <functional>
#include <memory>

#include "RunRecord.h"
#include "ThresholdRange.h"
#include "Version.h"

namespace {

// A check of an option's value: the problem it states, and the value as given, so that a typo is
// easy to spot. The empty description keeps the help's value names plain.
CLI::Validator valueCheck(std::function<bool(const std::string&)> accepts, std::string problem) {
    return CLI::Validator(
        [accepts = std::move(accepts), problem = std::move(problem)](std::string& text) {
            return accepts(text) ? std::string() : problem + ", not '" + text + "'";
        },
        std::string());
}

// Whole decimal numbers only, in a range: "20" but not "20x", "2.5", " 20", "-1" or "".
CLI::Validator wholeNumber(const std::string& what, int minimum, int maximum) {
    return valueCheck(
        [minimum, maximum](const std::string& text) {
            const bool digits = !text.empty() && text.size() <= 9 &&
                                text.find_first_not_of("0123456789") == std::string::npos;
            return digits && std::stol(text) >= minimum && std::stol(text) <= maximum;
        },
        what + " must be a whole number from " + std::to_string(minimum) + " to " +
            std::to_string(maximum));
}

// "1.25" seconds as 1250 milliseconds, from whole digits with up to three decimals.
long long milliseconds(const std::string& text) {
    const std::string::size_type point = text.find('.');
    long long ms = std::stoll(text.substr(0, point)) * 1000;
    if (point != std::string::npos) {
        ms += std::stoll((text.substr(point + 1) + "00").substr(0, 3));
    }
    return ms;
}

// Seconds as whole or decimal digits, to the millisecond at most, in a range: "2", "0.5",
// "1.250", but not ".5", "5.", "1.2345", "-1" or "".
CLI::Validator seconds(const std::string& what, long long maximumMs) {
    return valueCheck(
        [maximumMs](const std::string& text) {
            const std::string::size_type point = text.find('.');
            const std::string whole = text.substr(0, point);
            const std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
            const auto isDigits = [](const std::string& part, std::size_t longest) {
                return !part.empty() && part.size() <= longest &&
                       part.find_first_not_of("0123456789") == std::string::npos;
            };
            return isDigits(whole, 9) && isDigits(fraction, 3) && milliseconds(text) <= maximumMs;
        },
        what + " must be a number of seconds from 0 to " + std::to_string(maximumMs / 1000) +
            ", to the millisecond at most");
}

// The help as a man page's synopsis would have it: the usage, what the program does, then each
// option with its value, its meaning and its default, wrapped to a terminal's width.
class ScanFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode) const override {
        std::string help = "Usage: " + name + " [OPTIONS] VIDEO...\n       " + name +
                           " [OPTIONS] --segment K/N VIDEO\n       " + name +
                           " [OPTIONS] --join DIR\n" + app->get_description() + "\n\nOptions:\n";
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
    app->set_version_flag("--version", std::string("pelmora-scan ") + pelmora::kVersion,
                          "show the version");

    app->add_option("-t,--threshold", options.threshold,
                    "a colour difference above N counts as change (" +
                        std::to_string(pelmora::kMinimumThreshold) + ".." +
                        std::to_string(pelmora::kMaximumThreshold) + ", default " +
                        std::to_string(ScanOptions::kDefaultThreshold) + ")")
        ->type_name("N")
        ->check(wholeNumber("threshold", pelmora::kMinimumThreshold, pelmora::kMaximumThreshold));
    app->add_option("-o,--output", options.outputDir,
                    "save the snapshots in DIR, created with its parents if missing; with "
                    "several videos, in DIR/NAME for each video's file NAME (default: the "
                    "video's path without its extension)")
        ->type_name("DIR")
        ->check(valueCheck([](const std::string& text) { return !text.empty(); },
                           "the output directory must be named"));
    app->add_option("-j,--jobs", options.jobs,
                    "write snapshots on N threads (1..64, default: one for each processor); "
                    "any N gives the same files")
        ->type_name("N")
        ->check(wholeNumber("jobs", 1, ScanOptions::kMaximumJobs));
    app->add_flag("-q,--quiet", options.quiet,
                  "print neither progress nor the path of each snapshot");
    app->add_flag("--verbose", options.verbose, "also show the video decoder's own messages");
    // What a scan records beside the snapshots, and what counts as motion.
    app->add_flag("--events", options.events,
                  "also list the snapshots and the events (runs of snapshots close in time) in "
                  "snapshots.csv and events.csv in each snapshot folder, a row at a time");
    app->add_option_function<std::string>(
           "--event-gap",
           [&options](const std::string& text) { options.eventGapMs = milliseconds(text); },
           "snapshots no more than SECONDS apart belong to one event (0..86400, to the "
           "millisecond, default 2)")
        ->type_name("SECONDS")
        ->check(seconds("event-gap", ScanOptions::kMaximumEventGapMs));
    app->add_flag("--report", options.report,
                  "also write report.html in each snapshot folder: a timeline of the changed "
                  "pixels and a table of the events (implies --events)");
    app->add_option_function<std::string>(
           "--clips",
           [&options](const std::string& text) {
               options.clips = true;
               options.clipMode =
                   text == "encode" ? pelmora::ClipMode::Encode : pelmora::ClipMode::Copy;
           },
           "also save each event as a video in the snapshot folder, EVENT0001.mkv and on, "
           "from --before to --after around it, events that overlap sharing one (implies "
           "--events); copy, the default, keeps every stream as it is and starts at the "
           "keyframe before, and encodes a clip it cannot copy whole; encode cuts exactly, as "
           "H.264 in MP4")
        ->type_name("[MODE]")
        ->check(
            valueCheck([](const std::string& text) { return text == "copy" || text == "encode"; },
                       "the clips' mode must be copy or encode"));
    app->add_option_function<std::string>(
           "--before",
           [&options](const std::string& text) { options.clipBeforeMs = milliseconds(text); },
           "start each clip SECONDS before its event's first snapshot (0..3600, to the "
           "millisecond, default 2)")
        ->type_name("SECONDS")
        ->check(seconds("before", ScanOptions::kMaximumClipMarginMs));
    app->add_option_function<std::string>(
           "--after",
           [&options](const std::string& text) { options.clipAfterMs = milliseconds(text); },
           "end each clip SECONDS after its event's last snapshot (0..3600, to the "
           "millisecond, default 2)")
        ->type_name("SECONDS")
        ->check(seconds("after", ScanOptions::kMaximumClipMarginMs));
    app->add_option("--mask", options.maskPath,
                    "count change only where the picture FILE is white, scaled to the video's "
                    "size if it differs (default: the whole frame)")
        ->type_name("FILE");
    app->add_option("--min-pixels", options.minPixels,
                    "save a frame when more than N pixels changed in its busiest colour "
                    "channel (0..100000000, default 10)")
        ->type_name("N")
        ->check(wholeNumber("min-pixels", 0, ScanOptions::kMaximumMinPixels));
    app->add_option_function<std::string>(
           "--clock",
           [&options](const std::string& text) {
               options.clock =
                   text == "stream" ? pelmora::RunClock::Stream : pelmora::RunClock::Index;
           },
           "name the snapshots by index, the frame's number over the frame rate, or by stream, "
           "the frame's presentation time, which suits variable-rate videos such as a "
           "phone's (default: index)")
        ->type_name("CLOCK")
        ->check(
            valueCheck([](const std::string& text) { return text == "index" || text == "stream"; },
                       "the clock must be index or stream"));
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
        ->check(valueCheck([](const std::string& text) { return parseShard(text).has_value(); },
                           "the shard must be K/N with 0 <= K < N"));
    app->add_flag("--resume", options.resume,
                  "skip each video whose record (.pelmora-run.json in its snapshot folder) says "
                  "it was scanned to its end with the same settings; scan the others from the "
                  "start, removing the snapshots of an unfinished run first");
    app->add_flag("--clean", options.clean,
                  "remove the snapshots of earlier runs from each snapshot folder before "
                  "scanning into it (IMG*.jpg files only, with the lists, report, record and "
                  "temporary files runs leave); without it they stay, and a line says how "
                  "many there are");
    app->add_option_function<std::string>(
           "--summary",
           [&options](const std::string& text) {
               options.summary = text == "json" ? SummaryFormat::Json : SummaryFormat::Text;
           },
           "text, or json: one JSON object per video on the standard output (default: text)")
        ->type_name("FORMAT")
        ->check(valueCheck([](const std::string& text) { return text == "text" || text == "json"; },
                           "the summary must be text or json"));
    app->add_option_function<std::string>(
           "--segment", [&options](const std::string& text) { options.segment = parseShard(text); },
           "scan only stretch K of N (0 <= K < N) of the one VIDEO, N stretches of equal frame "
           "count, into a folder of its own inside the snapshot folder, for --join to make "
           "one run's files of; a video whose frames cannot be told exactly after a seek is "
           "left for --join to scan as one run")
        ->type_name("K/N")
        ->check(valueCheck([](const std::string& text) { return parseShard(text).has_value(); },
                           "the segment must be K/N with 0 <= K < N"));
    app->add_option("--join", options.joinFolder,
                    "make of the stretches that --segment scanned into the snapshot folder DIR "
                    "exactly the files one run would have left there, scanning again only "
                    "where a stretch's start changed what it found; give the options the "
                    "stretches were scanned with; stretch files changed since are refused, a "
                    "join that fails or is stopped leaves DIR as it was, and one killed "
                    "part-way is taken up by the next")
        ->type_name("DIR")
        ->check(valueCheck([](const std::string& text) { return !text.empty(); },
                           "the folder to join must be named"));
    app->add_option("VIDEO", options.videos,
                    "the videos to scan, in this order; a folder stands for the video files "
                    "below it");
    app->footer(
        "Exit status: 0 all done, 1 a video or folder could not be read or a snapshot,\n"
        "list, clip, report or record was not saved, 2 usage error, 128 + the signal's\n"
        "number when stopped by SIGINT (130), SIGTERM (143) or SIGHUP (129).");
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

namespace {

// --clips takes its mode only when one follows it, so that "--clips VIDEO" scans the video:
// the parser would take the video for the mode.
std::vector<std::string> withClipModes(const std::vector<std::string>& arguments) {
    std::vector<std::string> joined;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == "--") {
            joined.insert(joined.end(), arguments.begin() + static_cast<long>(i), arguments.end());
            break;
        }
        if (arguments[i] != "--clips") {
            joined.push_back(arguments[i]);
        } else if (i + 1 < arguments.size() &&
                   (arguments[i + 1] == "copy" || arguments[i + 1] == "encode")) {
            joined.push_back("--clips=" + arguments[++i]);
        } else {
            joined.push_back("--clips=copy");
        }
    }
    return joined;
}

}  // namespace

namespace {

// What --segment and --join cannot be given with: they stand for one video, not a batch.
std::string segmentConflict(const ScanOptions& options) {
    const bool batch = !options.listFile.empty() || options.shard || options.resume;
    if (!options.joinFolder.empty()) {
        if (options.segment) {
            return "--join and --segment are separate steps";
        }
        if (!options.videos.empty() || batch) {
            return "--join takes the folder alone, without VIDEO, --list, --shard or --resume";
        }
    }
    if (options.segment && (options.videos.size() != 1 || batch)) {
        return "--segment takes exactly one VIDEO, without --list, --shard or --resume";
    }
    return std::string();
}

}  // namespace

ParsedOptions parseScanOptions(const std::vector<std::string>& given) {
    const std::vector<std::string> arguments = withClipModes(given);
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
    parsed.error = segmentConflict(parsed.options);
    if (!parsed.error.empty()) {
        return parsed;
    }
    if (parsed.options.videos.empty() && parsed.options.listFile.empty() &&
        parsed.options.joinFolder.empty()) {
        parsed.error = "no video given";
        return parsed;
    }
    // Read now, so that a mask that cannot be used stops the scan before any video opens.
    std::string reason;
    if (parser->count("--mask") > 0 &&
        !pelmora::WatchedRegion::load(parsed.options.maskPath, parsed.options.watched, reason)) {
        parsed.error = "cannot read the mask '" + parsed.options.maskPath + "': " + reason;
    }
    return parsed;
}

pelmora::RecordOptions recordOptions(const ScanOptions& options) {
    pelmora::RecordOptions record;
    record.events = options.events || options.report || options.clips;
    record.report = options.report;
    record.eventGapMs = options.eventGapMs;
    record.clips = options.clips;
    record.clipMode = options.clipMode;
    record.clipBeforeMs = options.clipBeforeMs;
    record.clipAfterMs = options.clipAfterMs;
    return record;
}

pelmora::RunRequest scanRequest(const ScanOptions& options, const std::string& video,
                                const std::string& directory) {
    pelmora::RunRequest request{video, directory, options.threshold, options.jobs};
    request.minPixels = options.minPixels;
    request.watched = options.watched;
    request.clock = options.clock;
    return request;
}

nlohmann::json resultSettings(const ScanOptions& options) {
    const pelmora::RecordOptions record = recordOptions(options);
    return {{"threshold", options.threshold},
            {"min_pixels", options.minPixels},
            {"mask", options.maskPath.empty() ? nlohmann::json() : fileIdentity(options.maskPath)},
            {"events", record.events},
            {"report", record.report},
            {"event_gap_ms", record.eventGapMs},
            {"clock", options.clock == pelmora::RunClock::Stream ? "stream" : "index"},
            {"clips", !record.clips                                  ? nlohmann::json()
                      : record.clipMode == pelmora::ClipMode::Encode ? "encode"
                                                                     : "copy"},
            {"clip_before_ms", record.clipBeforeMs},
            {"clip_after_ms", record.clipAfterMs}};
}

std::string scanUsage() {
    ScanOptions options;
    return makeParser(options)->help();
}

std::string versionText() {
    return std::string("pelmora-scan ") + pelmora::kVersion + "\n";
}
