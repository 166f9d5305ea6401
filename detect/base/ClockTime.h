#pragma once

#include <memory>
#include <optional>
#include <string>

// Time of day on the wall clocks of the world: dates, zones with their summer times, and the
// ISO 8601 text they are read from and written as. Times are milliseconds since 1970-01-01
// 00:00 UTC.

namespace pelmora {

// A date and a time of day as a clock shows it, in no zone of its own.
struct CivilTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// The years a recording's clock is believed in: a clock that was never set shows 1970 or 1904,
// and eight digits of a counter or a size that happen to stand where a date would are rarely a
// year of this range.
inline constexpr int kFirstClockYear = 1971;
inline constexpr int kLastClockYear = 2099;

// Whether the fields name a moment that exists on a calendar of those years: month 1 to 12, a
// day its month has (29 February in leap years only), hours 0 to 23, minutes and seconds 0 to
// 59, milliseconds 0 to 999.
bool isValidCivilTime(const CivilTime& time);

// The time read as UTC, and back.
long long civilAsUtcMs(const CivilTime& time);
CivilTime civilFromUtcMs(long long utcMs);

// A zone's offsets from UTC over the years, as its rules say: the zone database's file for a
// named zone (with the rule at its end for the years after its table), or one fixed offset.
// Copies are cheap and share the zone's table.
class TimeZone {
public:
    // UTC.
    TimeZone();

    // An offset that never changes, in seconds east of UTC, named as "+02:00".
    static TimeZone fixed(int offsetSeconds);
    // A zone by name: one of the zone database (Europe/Berlin, America/New_York, UTC), read
    // from /usr/share/zoneinfo, or a fixed offset ("+02:00", "-0530", "+05"). Nothing, with
    // error set, for a name that is none of them.
    static std::optional<TimeZone> named(const std::string& name, std::string& error);
    // The machine's own: TZ when it is set to a zone's name or a POSIX rule, else the zone
    // /etc/localtime links to or /etc/timezone names, else UTC. A TZ that names no zone and no rule
    // is UTC too, and then unreadable, when given, says so in a line for people.
    static TimeZone machine(std::string* unreadable = nullptr);

    // What the zone was asked for by: "Europe/Berlin", "+02:00", or for the machine's, the
    // zone's name where it is known ("UTC" else).
    const std::string& name() const;

    // The offset east of UTC, in seconds, in force at that moment.
    int offsetAt(long long utcMs) const;
    // The moment a clock of this zone shows local. A time shown twice, in the hour a summer
    // time ends, is taken as its first showing; one never shown, in the hour a summer time
    // begins, as the moment the clock would show had it not been put forward (02:30 where
    // 02:00 became 03:00 is 03:30 by the new time).
    long long utcOfLocal(const CivilTime& local) const;

private:
    struct Rules;
    explicit TimeZone(std::shared_ptr<const Rules> rules);
    std::shared_ptr<const Rules> rules;
};

// An offset from UTC as ISO 8601 writes it: "+02:00", "-05:30".
std::string offsetText(int offsetSeconds);
// "2024-05-01T08:00:04.250+02:00": the moment as the zone's clock shows it, to the millisecond,
// with the zone's offset then.
std::string isoClockTime(long long utcMs, const TimeZone& zone);
// "2024-05-01 08:00:04 +02:00": the same for people, to the second.
std::string readableClockTime(long long utcMs, const TimeZone& zone);

// An ISO 8601 date and time of day as people and programs write them: "2024-05-01T08:00:00",
// a space for the T, seconds optional, any decimals of a second (milliseconds kept), and an
// optional zone: "Z", "+02:00", "+0200" or "+02".
struct IsoTime {
    CivilTime local;
    std::optional<int> offsetSeconds;  // none: a wall time of a zone not said
};
// Nothing for text of another form or a date or time that does not exist (see
// isValidCivilTime).
std::optional<IsoTime> parseIsoTime(const std::string& text);

}  // namespace pelmora
