#pragma once

#include <optional>
#include <string>

#include "ClockTime.h"

// When a video's first frame was filmed, as a clock showed it: from the time given for it, the
// file's name, or the container's creation time, so that the snapshots of many files and
// cameras can be put on one clock.

namespace pelmora {

// Where a start came from.
enum class StartSource {
    None,      // nothing tells it
    Given,     // the time given for the video
    Name,      // the file's name, or its folder's date and its name's time
    Metadata,  // the container's creation time
};

// "none", "given", "name", "metadata": as the records and the JSON summary say it.
const char* startSourceWord(StartSource source);
// "from the file name", ...: as a line for people says it.
const char* startSourceText(StartSource source);

// Which sources a start may come from, the time given aside: both, the name first, or one. After
// Any, in the order of --start-from's choices, whose words are these values' words.
enum class StartFrom { Any, Name, Metadata, None };

struct StartOptions {
    // A time given for the first frame; a wall time without an offset is the zone's.
    std::optional<IsoTime> given;
    StartFrom from = StartFrom::Any;
    // The zone of the names' wall times, and the clock every time is shown on; none: the
    // machine's.
    std::optional<TimeZone> zone;

    TimeZone zoneOrMachine() const { return zone ? *zone : TimeZone::machine(); }
};

// A video's start, when known, and the clock its times are shown on.
struct VideoStart {
    StartSource source = StartSource::None;
    long long utcMs = 0;  // the first frame, when the source is not None
    TimeZone zone;

    bool known() const { return source != StartSource::None; }
    long long utcAt(long long videoMs) const { return utcMs + videoMs; }
    // "2024-05-01T08:00:04.250+02:00" for a time in the video; empty when no start is known.
    std::string clockTime(long long videoMs) const;
};

// The wall time a video's path tells, if it does:
// - its file name holds a date and a time: 20240501_080000, 20240501080000, 2024-05-01_08-00-00,
//   2024-05-01 08.00.00, 2024_0501_080000 and the like, year first and seconds always, with
//   '-', '_', '.', ':', ' ' or 'T' between the parts or nothing, and optional milliseconds
//   after a '.' or straight after the seconds (080000123, 08.00.00.123); the first such place in
//   the name counts, and later ones (the end time of RecM01_20240501_080000_090000) do not;
// - or, where the name holds no date, its folder's name holds one (2024-05-01, 20240501) and the
//   file's name a time (080000, 08.00.00-09.00.00).
// A date or time that does not exist (month 13, 25:00, 29 February of a year not leap) is
// none, and so is one outside the years a clock is believed in (see kFirstClockYear).
std::optional<CivilTime> timeInPath(const std::string& videoPath);

// Whether a folder's name is a date alone (2024-05-01, 20240501), as recorders name the folder
// of a day's files; such a folder is no camera.
bool isDateFolderName(const std::string& name);

// The start of the video at videoPath, from the first source that tells it: the time given,
// the path (a wall time of the zone), the container's creation time (creationTime as the
// container holds it, ISO 8601, UTC where it says no zone), as the options allow.
VideoStart decideStart(const std::string& videoPath, const std::string& creationTime,
                       const StartOptions& options);

}  // namespace pelmora

namespace pelmora {

// The moment that text names on start's clock, in UTC milliseconds: an ISO 8601 time (a wall
// time of start's zone where it says no offset), or a time of day, HH:MM or HH:MM:SS, on the
// day start's first frame shows on that clock. Nothing, with why set, where it names none or
// needs a start that is not known.
std::optional<long long> clockMomentMs(const std::string& text, const VideoStart& start,
                                       std::string& why);

}  // namespace pelmora
