#include <CLI/CLI.hpp>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "ClockTime.h"
#include "KnownMoments.h"
#include "OptionTable.h"
#include "OptionValues.h"
#include "ScanParsing.h"

namespace {

// The names the parser knows an option by: "-t,--threshold".
std::string parserNames(const pelmora::OptionEntry& entry) {
    return (entry.shortName != '\0' ? std::string("-") + entry.shortName + "," : std::string()) +
           "--" + entry.name;
}

}  // namespace

// Every option of the table, bound to where its value goes, in the table's order, which is the
// order --help lists them in.
std::unique_ptr<CLI::App> makeScanParser(ScanOptions& options) {
    namespace option = pelmora::option;
    using pelmora::OptionEntry;
    auto app = std::make_unique<CLI::App>(
        "Saves every frame of each VIDEO that differs enough from the last saved one as a\n"
        "JPEG named after its time in the video.",
        "pelmora-scan");
    app->formatter(scanHelpFormatter());
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
    // Given again, one more: each time one polygon, never the arguments after it.
    const auto polygons = [&parser](const OptionEntry& entry, std::vector<std::string>& texts) {
        parser.add_option(parserNames(entry), texts, pelmora::optionHelp(entry))
            ->type_name(entry.valueName)
            ->allow_extra_args(false)
            ->check(polygonPoints());
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
        {&option::kRegion, [&] { polygons(option::kRegion, options.regionTexts); }},
        {&option::kExclude, [&] { polygons(option::kExclude, options.excludeTexts); }},
        {&option::kRegionFile,
         [&] { text(option::kRegionFile, options.regionFile)->check(named("the region file")); }},
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
        {&option::kExport,
         [&] {
             parser
                 .add_option_function<std::string>(
                     parserNames(option::kExport),
                     [&options](const std::string& given) {
                         std::string problem;
                         options.exports = *pelmora::parseExportFormats(given, problem);
                     },
                     pelmora::optionHelp(option::kExport))
                 ->type_name(option::kExport.valueName)
                 ->check(exportFormats());
         }},
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
        {&option::kSearch,
         [&] {
             text(option::kSearch, options.searchFolder)->check(named("the folder to search"));
         }},
        {&option::kSearchName,
         [&] {
             text(option::kSearchName, options.searchName)
                 ->check(valueCheck(
                     [](const std::string& given) {
                         return !given.empty() && given.find('/') == std::string::npos &&
                                given != "." && given != "..";
                     },
                     "the search's name must be a folder's name, without '/'"));
         }},
        {&option::kBetween,
         [&] {
             parser
                 .add_option(parserNames(option::kBetween), options.betweenTexts,
                             pelmora::optionHelp(option::kBetween))
                 ->type_name(option::kBetween.valueName)
                 ->expected(2)
                 ->allow_extra_args(false);
         }},
        {&option::kSnapshots, [&] { flag(option::kSnapshots, options.snapshots); }},
        {&option::kHelp,
         [&] {
             parser.set_help_flag(parserNames(option::kHelp), pelmora::optionHelp(option::kHelp));
         }},
        {&option::kVersion,
         [&] {
             parser.set_version_flag(parserNames(option::kVersion), versionLine(),
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
