#include "VideoStart.h"

#include <cstdio>

#include "TextPattern.h"

namespace pelmora {

namespace {

// The last part of a path, and the one before it.
std::string lastPart(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderPart(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The name without its extension: the last dot's, unless the name starts with it.
std::string stem(const std::string& name) {
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Each part may be parted from the next by one of the separators names use, or by nothing; a
// digit may not stand right before the year nor right after the last part.
const TextPattern& dateTimePattern() {
    static const TextPattern pattern(
        "(^|[^0-9])([0-9]{4})[-_. ]?([0-9]{2})[-_. ]?([0-9]{2})[-_. Tt]?"
        "([0-9]{2})[-_.: ]?([0-9]{2})[-_.: ]?([0-9]{2})(\\.?([0-9]{3}))?(?![0-9])");
    return pattern;
}

const TextPattern& datePattern() {
    static const TextPattern pattern("^([0-9]{4})[-_. ]?([0-9]{2})[-_. ]?([0-9]{2})$");
    return pattern;
}

const TextPattern& timePattern() {
    static const TextPattern pattern(
        "(^|[^0-9])([0-9]{2})[-_.: ]?([0-9]{2})[-_.: ]?([0-9]{2})(\\.?([0-9]{3}))?(?![0-9])");
    return pattern;
}

std::optional<CivilTime> valid(const CivilTime& time) {
    return isValidCivilTime(time) ? std::optional<CivilTime>(time) : std::nullopt;
}

}  // namespace

const char* startSourceWord(StartSource source) {
    switch (source) {
        case StartSource::Given:
            return "given";
        case StartSource::Name:
            return "name";
        case StartSource::Metadata:
            return "metadata";
        case StartSource::None:
            break;
    }
    return "none";
}

const char* startSourceText(StartSource source) {
    switch (source) {
        case StartSource::Given:
            return "as given";
        case StartSource::Name:
            return "from the file name";
        case StartSource::Metadata:
            return "from the file's creation time";
        case StartSource::None:
            break;
    }
    return "not known";
}

std::string VideoStart::clockTime(long long videoMs) const {
    return known() ? isoClockTime(utcAt(videoMs), zone) : std::string();
}

bool isDateFolderName(const std::string& name) {
    const std::optional<PatternMatch> match = datePattern().match(name);
    if (!match) {
        return false;
    }
    CivilTime date;
    date.year = match->number(1);
    date.month = match->number(2);
    date.day = match->number(3);
    return isValidCivilTime(date);
}

std::optional<CivilTime> timeInPath(const std::string& videoPath) {
    const std::string name = stem(lastPart(videoPath));
    if (const std::optional<PatternMatch> match = dateTimePattern().search(name)) {
        CivilTime time;
        time.year = match->number(2);
        time.month = match->number(3);
        time.day = match->number(4);
        time.hour = match->number(5);
        time.minute = match->number(6);
        time.second = match->number(7);
        time.millisecond = match->number(9);
        return valid(time);
    }
    // The day's folder and the time in the name.
    const std::string folder = lastPart(folderPart(videoPath));
    const std::optional<PatternMatch> date = datePattern().match(folder);
    const std::optional<PatternMatch> match = date ? timePattern().search(name) : std::nullopt;
    if (!match) {
        return std::nullopt;
    }
    CivilTime time;
    time.year = date->number(1);
    time.month = date->number(2);
    time.day = date->number(3);
    time.hour = match->number(2);
    time.minute = match->number(3);
    time.second = match->number(4);
    time.millisecond = match->number(6);
    return valid(time);
}

VideoStart decideStart(const std::string& videoPath, const std::string& creationTime,
                       const StartOptions& options) {
    VideoStart start;
    start.zone = options.zoneOrMachine();
    const auto instant = [&](const IsoTime& time, int offsetWhenNone) {
        return time.offsetSeconds   ? civilAsUtcMs(time.local) - *time.offsetSeconds * 1000LL
               : offsetWhenNone < 0 ? start.zone.utcOfLocal(time.local)
                                    : civilAsUtcMs(time.local);
    };
    if (options.given) {
        start.source = StartSource::Given;
        start.utcMs = instant(*options.given, -1);
        return start;
    }
    const bool byName = options.from == StartFrom::Any || options.from == StartFrom::Name;
    const bool byMetadata = options.from == StartFrom::Any || options.from == StartFrom::Metadata;
    if (byName) {
        if (const auto time = timeInPath(videoPath)) {
            start.source = StartSource::Name;
            start.utcMs = start.zone.utcOfLocal(*time);
            return start;
        }
    }
    if (byMetadata && !creationTime.empty()) {
        // The container's clock is UTC, whether or not its text says so.
        if (const auto time = parseIsoTime(creationTime)) {
            start.source = StartSource::Metadata;
            start.utcMs = instant(*time, 0);
        }
    }
    return start;
}

}  // namespace pelmora

namespace pelmora {

std::optional<long long> clockMomentMs(const std::string& text, const VideoStart& start,
                                       std::string& why) {
    if (const std::optional<IsoTime> iso = parseIsoTime(text)) {
        return iso->offsetSeconds ? civilAsUtcMs(iso->local) - 1000LL * *iso->offsetSeconds
                                  : start.zone.utcOfLocal(iso->local);
    }
    int hour = -1;
    int minute = -1;
    int second = 0;
    int used = 0;
    const bool ofDay =
        (std::sscanf(text.c_str(), "%2d:%2d:%2d%n", &hour, &minute, &second, &used) == 3 ||
         std::sscanf(text.c_str(), "%2d:%2d%n", &hour, &minute, &used) == 2) &&
        used == static_cast<int>(text.size()) && hour >= 0 && hour < 24 && minute >= 0 &&
        minute < 60 && second >= 0 && second < 60;
    if (!ofDay) {
        why = "'" + text + "' is no clock time: give 2024-05-01T14:00:00 or 14:00";
        return std::nullopt;
    }
    if (!start.known()) {
        why = "the video's first frame has no clock time, so " + text + " is on no day of it";
        return std::nullopt;
    }
    CivilTime day = civilFromUtcMs(start.utcMs + 1000LL * start.zone.offsetAt(start.utcMs));
    day.hour = hour;
    day.minute = minute;
    day.second = second;
    day.millisecond = 0;
    return start.zone.utcOfLocal(day);
}

}  // namespace pelmora
