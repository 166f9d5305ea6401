#include "ScanOptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "OptionRules.h"
#include "OptionTable.h"
#include "OptionValues.h"
#include "RunRecord.h"
#include "Version.h"

namespace {

// The names the parser knows an option by: "-t,--threshold".
std::string parserNames(const pelmora::OptionEntry& entry) {
    return (entry.shortName != '\0' ? std::string("-") + entry.shortName + "," : std::string()) +
           "--" + entry.name;
}

// The help as a man page's synopsis would have it: the usage, what the program does, then each
// option with its value, its meaning and its default, wrapped to a terminal's width.
class ScanFormatter : public CLI::Formatter {
public:
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode) const override {
        std::string help =
            "Usage: " + name + " [OPTIONS] VIDEO...\n       " + name +
            " [OPTIONS] --segment K/N VIDEO\n       " + name + " [OPTIONS] --join DIR\n       " +
            name + " [OPTIONS] --sweep [T1:T2] VIDEO...\n       " + name +
            " [OPTIONS] --overview-from DIR\n" + app->get_description() + "\n\nOptions:\n";
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

// Every option of the table, bound to where its value goes, in the table's order, which is the
// order --help lists them in.
std::unique_ptr<CLI::App> makeParser(ScanOptions& options) {
    namespace option = pelmora::option;
    using pelmora::OptionEntry;
    auto app = std::make_unique<CLI::App>(
        "Saves every frame of each VIDEO that differs enough from the last saved one as a\n"
        "JPEG named after its time in the video.",
        "pelmora-scan");
    app->formatter(std::make_shared<ScanFormatter>());
    app->option_defaults()->disable_flag_override();
    CLI::App& parser = *app;

    const auto flag = [&parser](const OptionEntry& entry, bool& value) {
        parser.add_flag(parserNames(entry), value, pelmora::optionHelp(entry));
    };
    const auto text = [&parser](const OptionEntry& entry, std::string& value) {
        return parser.add_option(parserNames(entry), value, pelmora::optionHelp(entry))
            ->type_name(entry.valueName);
    };
    const auto count = [&parser](const OptionEntry& entry, int& value) {
        parser.add_option(parserNames(entry), value, pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->check(wholeNumber(entry));
    };
    const auto inSeconds = [&parser](const OptionEntry& entry, long long& valueMs) {
        parser
            .add_option_function<std::string>(
                parserNames(entry),
                [&valueMs](const std::string& given) { valueMs = milliseconds(given); },
                pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->check(seconds(entry));
    };
    // A time as a moments file gives it, read by the same rules.
    const auto timeOption = [&parser](const OptionEntry& entry, std::optional<long long>& valueMs) {
        parser
            .add_option_function<std::string>(
                parserNames(entry),
                [&valueMs](const std::string& given) { valueMs = pelmora::momentTimeMs(given); },
                pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->check(valueCheck(
                [](const std::string& given) { return pelmora::momentTimeMs(given).has_value(); },
                std::string("--") + entry.name +
                    " must be a time in seconds (12.5) or HH:MM:SS.mmm (00:01:02.500)"));
    };
    // Takes the choice as the option's second one or else its first.
    const auto choice = [&parser](const OptionEntry& entry, const std::string& what,
                                  std::function<void(bool second)> take) {
        const std::string second = entry.choices[1];
        parser
            .add_option_function<std::string>(
                parserNames(entry),
                [take = std::move(take), second](const std::string& given) {
                    take(given == second);
                },
                pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->check(oneOf(entry, what));
    };
    const auto named = [](const std::string& what) {
        return valueCheck([](const std::string& given) { return !given.empty(); },
                          what + " must be named");
    };
    const auto share = [&parser](const OptionEntry& entry, std::optional<Shard>& value,
                                 const std::string& what) {
        parser
            .add_option_function<std::string>(
                parserNames(entry),
                [&value](const std::string& given) { value = parseShard(given); },
                pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->check(
                valueCheck([](const std::string& given) { return parseShard(given).has_value(); },
                           what + " must be K/N with 0 <= K < N"));
    };

    const std::map<const OptionEntry*, std::function<void()>> bindings{
        {&option::kThreshold, [&] { count(option::kThreshold, options.threshold); }},
        {&option::kOutput,
         [&] { text(option::kOutput, options.outputDir)->check(named("the output directory")); }},
        {&option::kJobs, [&] { count(option::kJobs, options.jobs); }},
        {&option::kVideosAtOnce, [&] { count(option::kVideosAtOnce, options.videosAtOnce); }},
        {&option::kQuiet, [&] { flag(option::kQuiet, options.quiet); }},
        {&option::kVerbose, [&] { flag(option::kVerbose, options.verbose); }},
        {&option::kEvents, [&] { flag(option::kEvents, options.events); }},
        {&option::kEventGap, [&] { inSeconds(option::kEventGap, options.eventGapMs); }},
        {&option::kReport, [&] { flag(option::kReport, options.report); }},
        {&option::kClips,
         [&] {
             choice(option::kClips, "the clips' mode", [&options](bool encode) {
                 options.clips = true;
                 options.clipMode = encode ? pelmora::ClipMode::Encode : pelmora::ClipMode::Copy;
             });
         }},
        {&option::kBefore, [&] { inSeconds(option::kBefore, options.clipBeforeMs); }},
        {&option::kAfter, [&] { inSeconds(option::kAfter, options.clipAfterMs); }},
        {&option::kMask, [&] { text(option::kMask, options.maskPath); }},
        {&option::kMinPixels, [&] { count(option::kMinPixels, options.minPixels); }},
        {&option::kDetector,
         [&] {
             choice(option::kDetector, "the detector", [&options](bool objects) {
                 options.detector =
                     objects ? pelmora::DetectorKind::Objects : pelmora::DetectorKind::Classic;
             });
         }},
        {&option::kMinObject,
         [&] {
             text(option::kMinObject, options.minObjectText)
                 ->check(valueCheck(
                     [](const std::string& given) { return objectSize(given).has_value(); },
                     "the least object must be a share of the picture above 0% and up to 100% "
                     "(0.05%) or a whole number of pixels above 0"));
         }},
        {&option::kMinDuration, [&] { inSeconds(option::kMinDuration, options.objects.leastMs); }},
        {&option::kBoxes, [&] { flag(option::kBoxes, options.boxes); }},
        {&option::kClock,
         [&] {
             choice(option::kClock, "the clock", [&options](bool stream) {
                 options.clock = stream ? pelmora::RunClock::Stream : pelmora::RunClock::Index;
             });
         }},
        {&option::kStartTime,
         [&] {
             text(option::kStartTime, options.startTimeText)
                 ->check(valueCheck(
                     [](const std::string& given) {
                         return pelmora::parseIsoTime(given).has_value();
                     },
                     "the start time must be a date and time such as 2024-05-01T08:00:00 that "
                     "exists, with an offset such as +02:00 or Z if it is not of --time-zone"));
         }},
        {&option::kStartFrom,
         [&] {
             parser
                 .add_option_function<std::string>(
                     parserNames(option::kStartFrom),
                     [&options](const std::string& given) {
                         options.start.from = static_cast<pelmora::StartFrom>(
                             pelmora::choiceIndex(option::kStartFrom, given) + 1);
                     },
                     pelmora::optionHelp(option::kStartFrom))
                 ->type_name(option::kStartFrom.valueName)
                 ->check(oneOf(option::kStartFrom, "the start's source"));
         }},
        {&option::kTimeZone,
         [&] {
             text(option::kTimeZone, options.timeZoneName)
                 ->check(valueCheck(
                     [](const std::string& given) {
                         std::string reason;
                         return pelmora::TimeZone::named(given, reason).has_value();
                     },
                     "the time zone must be a zone's name such as Europe/Berlin or UTC, or an "
                     "offset such as +02:00"));
         }},
        {&option::kContactSheet, [&] { flag(option::kContactSheet, options.contactSheet); }},
        {&option::kDigest, [&] { flag(option::kDigest, options.digest); }},
        {&option::kDigestSpeed, [&] { count(option::kDigestSpeed, options.digestSpeed); }},
        {&option::kOverview, [&] { flag(option::kOverview, options.overview); }},
        {&option::kOverviewFrom,
         [&] {
             text(option::kOverviewFrom, options.overviewFromFolder)
                 ->check(named("the folder of the overview"));
         }},
        {&option::kList, [&] { text(option::kList, options.listFile); }},
        {&option::kShard, [&] { share(option::kShard, options.shard, "the shard"); }},
        {&option::kResume, [&] { flag(option::kResume, options.resume); }},
        {&option::kClean, [&] { flag(option::kClean, options.clean); }},
        {&option::kSummary,
         [&] {
             choice(option::kSummary, "the summary", [&options](bool json) {
                 options.summary = json ? SummaryFormat::Json : SummaryFormat::Text;
             });
         }},
        {&option::kSegment, [&] { share(option::kSegment, options.segment, "the segment"); }},
        {&option::kJoin,
         [&] { text(option::kJoin, options.joinFolder)->check(named("the folder to join")); }},
        {&option::kSweep,
         [&] {
             const pelmora::OptionEntry& threshold = option::kThreshold;
             parser
                 .add_option_function<std::string>(
                     parserNames(option::kSweep),
                     [&options](const std::string& given) {
                         options.sweep = true;
                         const auto range = sweepRange(given);
                         options.sweepFirst = range->first;
                         options.sweepLast = range->second;
                     },
                     pelmora::optionHelp(option::kSweep))
                 ->type_name(option::kSweep.valueName)
                 ->check(valueCheck(
                     [](const std::string& given) { return sweepRange(given).has_value(); },
                     "the sweep must be T1:T2, thresholds from " +
                         std::to_string(threshold.minimum) + " to " +
                         std::to_string(threshold.maximum) +
                         " with T1 no more than T2, or one threshold T"));
         }},
        {&option::kSweepTriggers,
         [&] {
             parser
                 .add_option_function<std::string>(
                     parserNames(option::kSweepTriggers),
                     [&options](const std::string& given) {
                         options.sweepTriggers = *triggerList(given);
                     },
                     pelmora::optionHelp(option::kSweepTriggers))
                 ->type_name(option::kSweepTriggers.valueName)
                 ->check(valueCheck(
                     [](const std::string& given) { return triggerList(given).has_value(); },
                     "the sweep's trigger sizes must be whole numbers from " +
                         std::to_string(option::kMinPixels.minimum) + " to " +
                         std::to_string(option::kMinPixels.maximum) + " separated by commas"));
         }},
        {&option::kExpect,
         [&] { text(option::kExpect, options.expectPath)->check(named("the moments file")); }},
        {&option::kFrom, [&] { timeOption(option::kFrom, options.stretch.fromMs); }},
        {&option::kTo, [&] { timeOption(option::kTo, options.stretch.toMs); }},
        {&option::kHelp,
         [&] {
             parser.set_help_flag(parserNames(option::kHelp), pelmora::optionHelp(option::kHelp));
         }},
        {&option::kVersion,
         [&] {
             parser.set_version_flag(parserNames(option::kVersion),
                                     std::string("pelmora-scan ") + pelmora::kVersion,
                                     pelmora::optionHelp(option::kVersion));
         }},
    };
    for (const OptionEntry* entry : pelmora::scanOptionTable()) {
        // Every option of the table is bound to its value; one left out fails every parse.
        bindings.at(entry)();
    }
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

}  // namespace

ParsedOptions parseScanOptions(const std::vector<std::string>& given) {
    const std::vector<std::string> arguments = withOptionalValues(given);
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
    parsed.error = optionConflict(parsed.options, *parser);
    if (!parsed.error.empty()) {
        return parsed;
    }
    ScanOptions& options = parsed.options;
    if (!options.minObjectText.empty()) {
        const pelmora::ObjectSettings size = *objectSize(options.minObjectText);
        options.objects.share = size.share;
        options.objects.pixels = size.pixels;
    }
    if (!options.timeZoneName.empty()) {
        std::string reason;
        options.start.zone = pelmora::TimeZone::named(options.timeZoneName, reason);
    } else {
        // Read once, so that a TZ naming nothing is said once, not at every video.
        options.start.zone = pelmora::TimeZone::machine(&parsed.warning);
    }
    if (!options.startTimeText.empty()) {
        options.start.given = pelmora::parseIsoTime(options.startTimeText);
    }
    if (options.videos.empty() && options.listFile.empty() && options.joinFolder.empty() &&
        options.overviewFromFolder.empty()) {
        parsed.error = "no video given";
        return parsed;
    }
    // One time cannot be the start of several videos filmed one after another.
    if (options.start.given &&
        (options.videos.size() > 1 || !options.listFile.empty() || options.shard)) {
        parsed.error = kOneStartTime;
        return parsed;
    }
    // Read now, so that a mask that cannot be used stops the scan before any video opens.
    std::string reason;
    if (parser->count("--mask") > 0 &&
        !pelmora::WatchedRegion::load(parsed.options.maskPath, parsed.options.watched, reason)) {
        parsed.error = "cannot read the mask '" + parsed.options.maskPath + "': " + reason;
        return parsed;
    }
    // Read now too, so that a moments file that cannot be used writes nothing at all.
    if (!parsed.options.expectPath.empty()) {
        const pelmora::MomentsFile moments = pelmora::readMomentsFile(parsed.options.expectPath);
        if (!moments.error.empty()) {
            parsed.error =
                "cannot use the moments file '" + parsed.options.expectPath + "': " + moments.error;
            return parsed;
        }
        parsed.options.expected = moments.moments;
    }
    return parsed;
}

const char* const kOneStartTime = "--start-time is the start of one video: give it with one VIDEO";

pelmora::RecordOptions recordOptions(const ScanOptions& options) {
    pelmora::RecordOptions record;
    record.events = options.events;
    // The overview is read from each video's report and lists.
    record.report = options.report || options.overview;
    record.contactSheet = options.contactSheet;
    record.digest = options.digest;
    record.digestSpeed = options.digestSpeed;
    record.eventGapMs = options.eventGapMs;
    record.clips = options.clips;
    record.clipMode = options.clipMode;
    record.clipBeforeMs = options.clipBeforeMs;
    record.clipAfterMs = options.clipAfterMs;
    return record.withImplied();
}

pelmora::RunRequest scanRequest(const ScanOptions& options, const std::string& video,
                                const std::string& directory) {
    pelmora::RunRequest request{video, directory, options.threshold, options.jobs};
    request.minPixels = options.minPixels;
    request.watched = options.watched;
    request.clock = options.clock;
    request.detector = options.detector;
    request.objects = options.objects;
    request.boxes = options.boxes;
    request.start = options.start;
    request.times = options.stretch;
    return request;
}

nlohmann::json resultSettings(const ScanOptions& options) {
    namespace option = pelmora::option;
    const pelmora::RecordOptions record = recordOptions(options);
    return {
        {"threshold", options.threshold},
        {"min_pixels", options.minPixels},
        {"mask", options.maskPath.empty() ? nlohmann::json() : fileIdentity(options.maskPath)},
        {"events", record.events},
        {"report", record.report},
        {"event_gap_ms", record.eventGapMs},
        {"clock", option::kClock.choices[options.clock == pelmora::RunClock::Stream ? 1 : 0]},
        {"detector", options.detector == pelmora::DetectorKind::Objects
                         ? nlohmann::json({{"name", option::kDetector.choices[1]},
                                           {"least_share", options.objects.share},
                                           {"least_pixels", options.objects.pixels},
                                           {"least_ms", options.objects.leastMs},
                                           {"boxes", options.boxes}})
                         : nlohmann::json(option::kDetector.choices[0])},
        {"clips",
         !record.clips
             ? nlohmann::json()
             : nlohmann::json(
                   option::kClips.choices[record.clipMode == pelmora::ClipMode::Encode ? 1 : 0])},
        {"clip_before_ms", record.clipBeforeMs},
        {"clip_after_ms", record.clipAfterMs},
        {"contact_sheet", record.contactSheet},
        {"digest_speed", record.digest ? nlohmann::json(record.digestSpeed) : nlohmann::json()},
        {"start_time",
         options.startTimeText.empty() ? nlohmann::json() : nlohmann::json(options.startTimeText)},
        {"start_from", options.start.from == pelmora::StartFrom::Any
                           ? "any"
                           : option::kStartFrom.choices[static_cast<int>(options.start.from) - 1]},
        {"time_zone", options.start.zoneOrMachine().name()}};
}

std::string scanUsage() {
    ScanOptions options;
    return makeParser(options)->help();
}

std::string versionText() {
    return std::string("pelmora-scan ") + pelmora::kVersion + "\n";
}
