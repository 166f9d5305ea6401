#include "OptionTable.h"

namespace pelmora {

const std::vector<const OptionSpec*>& scanOptionTable() {
    using namespace option;
    static const std::vector<const OptionSpec*> table{
        &kThreshold,    &kOutput,       &kJobs,    &kVideosAtOnce, &kQuiet,     &kVerbose,
        &kEvents,       &kEventGap,     &kReport,  &kClips,        &kBefore,    &kAfter,
        &kMask,         &kMinPixels,    &kClock,   &kStartTime,    &kStartFrom, &kTimeZone,
        &kContactSheet, &kList,         &kShard,   &kResume,       &kClean,     &kSummary,
        &kOverview,     &kOverviewFrom, &kSegment, &kJoin,         &kSweep,     &kSweepTriggers,
        &kExpect,       &kFrom,         &kTo,      &kHelp,         &kVersion};
    return table;
}

std::string optionNames(const OptionSpec& spec) {
    std::string names;
    if (spec.shortName != '\0') {
        names = std::string("-") + spec.shortName + ", ";
    }
    names += std::string("--") + spec.name;
    if (spec.value != OptionValue::None) {
        names += std::string(" ") + spec.valueName;
    }
    return names;
}

std::string optionValueText(const OptionSpec& spec, long long value) {
    if (spec.value != OptionValue::Seconds) {
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

std::string optionHelp(const OptionSpec& spec) {
    std::string help = spec.help;
    switch (spec.value) {
        case OptionValue::Count:
        case OptionValue::Seconds:
            help += " (" + optionValueText(spec, spec.minimum) + ".." +
                    optionValueText(spec, spec.maximum);
            if (spec.value == OptionValue::Seconds) {
                help += ", to the millisecond";
            }
            help += ", default " +
                    (spec.defaultText != nullptr ? std::string(spec.defaultText)
                                                 : optionValueText(spec, spec.scanDefault)) +
                    ")";
            break;
        case OptionValue::Choice:
            help += std::string(" (default: ") +
                    (spec.defaultText != nullptr ? spec.defaultText : spec.choices[0]) + ")";
            break;
        case OptionValue::None:
        case OptionValue::Text:
            break;
    }
    return help;
}

}  // namespace pelmora
