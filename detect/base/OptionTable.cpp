#include "OptionTable.h"

namespace pelmora {

const std::vector<const OptionEntry*>& scanOptionTable() {
    using namespace option;
    static const std::vector<const OptionEntry*> table{
        &kThreshold, &kOutput,       &kJobs,       &kVideosAtOnce,  &kQuiet,       &kVerbose,
        &kEvents,    &kEventGap,     &kReport,     &kClips,         &kBefore,      &kAfter,
        &kMask,      &kRegion,       &kExclude,    &kRegionFile,    &kMinPixels,   &kDetector,
        &kMinObject, &kMinDuration,  &kBoxes,      &kClock,         &kStartTime,   &kStartFrom,
        &kTimeZone,  &kContactSheet, &kExport,     &kDigest,        &kDigestSpeed, &kList,
        &kShard,     &kResume,       &kClean,      &kSummary,       &kOverview,    &kOverviewFrom,
        &kSegment,   &kJoin,         &kSweep,      &kSweepTriggers, &kExpect,      &kFrom,
        &kTo,        &kSearch,       &kSearchName, &kBetween,       &kSnapshots,   &kHelp,
        &kVersion};
    return table;
}

std::string optionNames(const OptionEntry& entry) {
    std::string names;
    if (entry.shortName != '\0') {
        names = std::string("-") + entry.shortName + ", ";
    }
    names += std::string("--") + entry.name;
    if (entry.value != OptionValue::None) {
        names += std::string(" ") + entry.valueName;
    }
    return names;
}

std::string optionValueText(const OptionEntry& entry, long long value) {
    if (entry.value != OptionValue::Seconds) {
        return std::to_string(value);
    }
    std::string text = std::to_string(value / 1000);
    if (value % 1000 != 0) {
        std::string fraction = std::to_string(1000 + value % 1000).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text;
}

std::string optionHelp(const OptionEntry& entry) {
    std::string help = entry.help;
    switch (entry.value) {
        case OptionValue::Count:
        case OptionValue::Seconds:
            help += " (" + optionValueText(entry, entry.minimum) + ".." +
                    optionValueText(entry, entry.maximum);
            if (entry.value == OptionValue::Seconds) {
                help += ", to the millisecond";
            }
            help += ", default " +
                    (entry.defaultText != nullptr ? std::string(entry.defaultText)
                                                  : optionValueText(entry, entry.scanDefault)) +
                    ")";
            break;
        case OptionValue::Choice:
            help += std::string(" (default: ") +
                    (entry.defaultText != nullptr ? entry.defaultText : entry.choices[0]) + ")";
            break;
        case OptionValue::Text:
            if (entry.valuesOf != nullptr) {
                const OptionEntry& of = *entry.valuesOf;
                help += " (each " + optionValueText(of, of.minimum) + ".." +
                        optionValueText(of, of.maximum) + ", default " +
                        (entry.wholeRange ? optionValueText(of, of.minimum) + ":" +
                                                optionValueText(of, of.maximum)
                                          : optionValueText(of, of.scanDefault)) +
                        ")";
            }
            break;
        case OptionValue::None:
            break;
    }
    return help;
}

int choiceIndex(const OptionEntry& entry, const std::string& word) {
    for (int i = 0; i < 3; ++i) {
        if (entry.choices[i] != nullptr && word == entry.choices[i]) {
            return i;
        }
    }
    return -1;
}

}  // namespace pelmora
