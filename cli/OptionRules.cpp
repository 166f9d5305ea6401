#include "OptionRules.h"

#include "OptionTable.h"

namespace {

// What the steps that stand apart from a batch cannot be given with: --segment and --join stand
// for one video, --overview-from for a batch done, and --overview needs the whole batch.
std::string segmentConflict(const ScanOptions& options) {
    const bool batch = !options.listFile.empty() || options.shard || options.resume;
    if (!options.overviewFromFolder.empty()) {
        if (!options.videos.empty() || batch || options.segment || !options.joinFolder.empty() ||
            options.overview) {
            return "--overview-from takes the folder alone, without VIDEO, --list, --shard, "
                   "--resume, --segment, --join or --overview";
        }
        return std::string();
    }
    if (options.overview && options.searchFolder.empty()) {
        if (options.outputDir.empty()) {
            return "--overview needs -o DIR, the folder that overview.html goes into";
        }
        if (options.shard) {
            return "--overview cannot see the other shards: make it with --overview-from once "
                   "every shard is done";
        }
        if (options.segment || !options.joinFolder.empty()) {
            return "--overview is for a batch, not for --segment or --join";
        }
    }
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
    if ((options.segment || !options.joinFolder.empty()) && options.digest) {
        return std::string("--digest is made from a whole video's run: it does not go with ") +
               (options.segment ? "--segment" : "--join");
    }
    return std::string();
}

// What a sweep cannot be given with: it saves no snapshot, so nothing of a run's files, and
// tries thresholds and trigger sizes of its own.
std::string sweepConflict(const ScanOptions& options, const CLI::App& parser) {
    if (!options.sweep) {
        for (const pelmora::OptionEntry* entry :
             {&pelmora::option::kSweepTriggers, &pelmora::option::kExpect}) {
            if (parser.count(std::string("--") + entry->name) > 0) {
                return std::string("--") + entry->name + " goes with --sweep";
            }
        }
        for (const pelmora::OptionEntry* entry : {&pelmora::option::kFrom, &pelmora::option::kTo}) {
            if (parser.count(std::string("--") + entry->name) > 0) {
                return std::string("--") + entry->name +
                       " goes with --sweep: it selects the stretch a sweep measures";
            }
        }
        return std::string();
    }
    const pelmora::StretchTimes& stretch = options.stretch;
    if (stretch.fromMs && stretch.toMs && *stretch.fromMs >= *stretch.toMs) {
        return "--from must come before --to: the stretch would hold no time";
    }
    for (const pelmora::OptionEntry* entry :
         {&pelmora::option::kThreshold, &pelmora::option::kMinPixels, &pelmora::option::kClips,
          &pelmora::option::kDigest, &pelmora::option::kResume, &pelmora::option::kClean,
          &pelmora::option::kSegment, &pelmora::option::kJoin, &pelmora::option::kOverview,
          &pelmora::option::kOverviewFrom, &pelmora::option::kContactSheet,
          &pelmora::option::kExport}) {
        if (parser.count(std::string("--") + entry->name) > 0) {
            return std::string(
                       "--sweep tries every threshold and trigger size it is given and "
                       "saves no snapshot: it does not go with --") +
                   entry->name;
        }
    }
    return std::string();
}

// What a search is given: the folder alone and the question, which the objects detector's index
// answers; and what only a search takes.
std::string searchConflict(const ScanOptions& options, const CLI::App& parser) {
    using namespace pelmora::option;
    if (options.searchFolder.empty()) {
        for (const pelmora::OptionEntry* entry : {&kSearchName, &kBetween, &kSnapshots}) {
            if (parser.count(std::string("--") + entry->name) > 0) {
                return std::string("--") + entry->name + " goes with --search";
            }
        }
        return std::string();
    }
    if (!options.videos.empty() || !options.listFile.empty() || options.shard || options.resume ||
        options.segment || !options.joinFolder.empty() || options.sweep ||
        !options.overviewFromFolder.empty()) {
        return "--search takes the folder alone, without VIDEO, --list, --shard, --resume, "
               "--segment, --join, --sweep or --overview-from";
    }
    if (options.detector == pelmora::DetectorKind::Classic && parser.count("--detector") > 0) {
        return "--search answers from the objects detector's index: it does not go with "
               "--detector classic";
    }
    for (const pelmora::OptionEntry* entry : {&kThreshold, &kMinPixels, &kClock, &kStartTime}) {
        if (parser.count(std::string("--") + entry->name) > 0) {
            return std::string("--") + entry->name +
                   " does not go with --search: it would change what the scan saw, not what is "
                   "asked of it";
        }
    }
    return std::string();
}

// What the objects detector's settings cannot be given without, and what it cannot be swept
// with.
std::string detectorConflict(const ScanOptions& options, const CLI::App& parser) {
    if (options.detector == pelmora::DetectorKind::Objects || !options.searchFolder.empty()) {
        return options.sweep ? "--sweep measures the classic detector's thresholds and trigger "
                               "sizes: it does not go with --detector objects"
                             : std::string();
    }
    for (const pelmora::OptionEntry* entry :
         {&pelmora::option::kMinObject, &pelmora::option::kMinDuration, &pelmora::option::kBoxes}) {
        if (parser.count(std::string("--") + entry->name) > 0) {
            return std::string("--") + entry->name + " goes with --detector objects";
        }
    }
    return std::string();
}

// What must be given at all: something to scan or to make of a scan; and one start time stands
// for one video, not for several filmed one after another.
std::string inputConflict(const ScanOptions& options) {
    if (options.videos.empty() && options.listFile.empty() && options.joinFolder.empty() &&
        options.overviewFromFolder.empty() && options.searchFolder.empty()) {
        return "no video given";
    }
    if (!options.startTimeText.empty() &&
        (options.videos.size() > 1 || !options.listFile.empty() || options.shard)) {
        return kOneStartTime;
    }
    return std::string();
}

}  // namespace

const char* const kOneStartTime = "--start-time is the start of one video: give it with one VIDEO";

std::string optionConflict(const ScanOptions& options, const CLI::App& parser) {
    std::string conflict = searchConflict(options, parser);
    if (conflict.empty()) {
        conflict = segmentConflict(options);
    }
    if (conflict.empty()) {
        conflict = sweepConflict(options, parser);
    }
    if (conflict.empty()) {
        conflict = detectorConflict(options, parser);
    }
    if (conflict.empty()) {
        conflict = inputConflict(options);
    }
    return conflict;
}
