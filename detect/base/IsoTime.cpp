#include <date/date.h>

#include <chrono>
#include <regex>
#include <string>

#include "ClockTime.h"

// ISO 8601 as the lists and pages write a clock time, and as --start-time reads one.

namespace pelmora {

namespace {

// The moment as a clock offset so far from UTC shows it.
date::local_time<std::chrono::milliseconds> shownAt(long long utcMs, int offsetSeconds) {
    return date::local_time<std::chrono::milliseconds>{
        std::chrono::milliseconds{utcMs + offsetSeconds * 1000LL}};
}

}  // namespace

std::string isoClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    return date::format("%FT%T", shownAt(utcMs, offset)) + offsetText(offset);
}

std::string readableClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    return date::format("%F %T ", date::floor<std::chrono::seconds>(shownAt(utcMs, offset))) +
           offsetText(offset);
}

std::optional<IsoTime> parseIsoTime(const std::string& text) {
    // The form is held to its digits here: the date library's reader takes "8" for an hour, and
    // no decimal comma nor more decimals than it keeps.
    const std::regex form(R"((\d{4})-(\d{2})-(\d{2})[Tt ](\d{2}):(\d{2}))"
                          R"((?::(\d{2})(?:[.,](\d+))?)?(?:([Zz])|([+-])(\d{2})(?::?(\d{2}))?)?)");
    std::smatch field;
    if (!std::regex_match(text, field, form)) {
        return std::nullopt;
    }
    const auto number = [&](int index) {
        return field[index].matched ? std::stoi(field[index].str()) : 0;
    };
    IsoTime time;
    time.local = {number(1),
                  number(2),
                  number(3),
                  number(4),
                  number(5),
                  number(6),
                  field[7].matched ? std::stoi((field[7].str() + "00").substr(0, 3)) : 0};
    if (field[8].matched) {
        time.offsetSeconds = 0;
    } else if (field[9].matched) {
        if (number(10) > 23 || number(11) > 59) {
            return std::nullopt;
        }
        time.offsetSeconds = (field[9] == "-" ? -1 : 1) * (number(10) * 3600 + number(11) * 60);
    }
    if (!isValidCivilTime(time.local)) {
        return std::nullopt;
    }
    return time;
}

}  // namespace pelmora
