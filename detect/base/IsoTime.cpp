#include <string>

#include "ClockTime.h"
#include "TextFormat.h"
#include "TextPattern.h"

// ISO 8601 as the lists and pages write a clock time, and as --start-time reads one.

namespace pelmora {

namespace {

// The date and time of day as a clock so far from UTC shows the moment.
CivilTime shownAt(long long utcMs, int offsetSeconds) {
    return civilFromUtcMs(utcMs + offsetSeconds * 1000LL);
}

}  // namespace

std::string isoClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    const CivilTime shown = shownAt(utcMs, offset);
    return formatText("%04d-%02d-%02dT%02d:%02d:%02d.%03d", shown.year, shown.month, shown.day,
                      shown.hour, shown.minute, shown.second, shown.millisecond) +
           offsetText(offset);
}

std::string readableClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    const CivilTime shown = shownAt(utcMs, offset);
    return formatText("%04d-%02d-%02d %02d:%02d:%02d ", shown.year, shown.month, shown.day,
                      shown.hour, shown.minute, shown.second) +
           offsetText(offset);
}

std::optional<IsoTime> parseIsoTime(const std::string& text) {
    // The form is held to its digits here: the date library's reader takes "8" for an hour, and
    // no decimal comma nor more decimals than it keeps.
    static const TextPattern form(
        R"((\d{4})-(\d{2})-(\d{2})[Tt ](\d{2}):(\d{2}))"
        R"((?::(\d{2})(?:[.,](\d+))?)?(?:([Zz])|([+-])(\d{2})(?::?(\d{2}))?)?)");
    const std::optional<PatternMatch> field = form.match(text);
    if (!field) {
        return std::nullopt;
    }
    IsoTime time;
    time.local = {field->number(1),
                  field->number(2),
                  field->number(3),
                  field->number(4),
                  field->number(5),
                  field->number(6),
                  field->matched(7) ? std::stoi(((*field)[7] + "00").substr(0, 3)) : 0};
    if (field->matched(8)) {
        time.offsetSeconds = 0;
    } else if (field->matched(9)) {
        if (field->number(10) > 23 || field->number(11) > 59) {
            return std::nullopt;
        }
        time.offsetSeconds =
            ((*field)[9] == "-" ? -1 : 1) * (field->number(10) * 3600 + field->number(11) * 60);
    }
    if (!isValidCivilTime(time.local)) {
        return std::nullopt;
    }
    return time;
}

}  // namespace pelmora
