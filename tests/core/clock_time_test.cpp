// The clock time of a video's first frame: from a time given, the file's name, its folder's date
// and its name's time, or the container's creation time, shown on the clock of a zone.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ClockTime.h"
#include "TestSupport.h"
#include "VideoStart.h"

namespace {

using pelmora::StartFrom;
using pelmora::StartSource;
using pelmora::TimeZone;

TimeZone zone(const std::string& name) {
    std::string error;
    const auto found = TimeZone::named(name, error);
    EXPECT_TRUE(found.has_value()) << name << ": " << error;
    return found ? *found : TimeZone();
}

// The wall time a path tells, as ISO text without a zone, or "" for none.
std::string timeInPathText(const std::string& path) {
    const auto time = pelmora::timeInPath(path);
    return time ? pelmora::isoClockTime(pelmora::civilAsUtcMs(*time), TimeZone()).substr(0, 23)
                : std::string();
}

struct NameRow {
    const char* name;
    const char* path;
    const char* expected;  // "" for no date
};

TEST(StartInName, EveryPatternOfNamesAndFolders) {
    const std::vector<NameRow> rows = {
        {"camera folder, date_time", "cam1/20240501_080000.mp4", "2024-05-01T08:00:00.000"},
        {"channel and 14 digits", "ch02_20240501080000.mp4", "2024-05-01T08:00:00.000"},
        {"phone's VID_", "VID_20240501_080000.mp4", "2024-05-01T08:00:00.000"},
        {"dash camera with its sequence", "2024_0501_080000_001.MP4", "2024-05-01T08:00:00.000"},
        {"recorder's start and end", "RecM01_20240501_080000_090000.mp4",
         "2024-05-01T08:00:00.000"},
        {"milliseconds straight after", "PXL_20240501_080000123.mp4", "2024-05-01T08:00:00.123"},
        {"dashes and underscore", "2024-05-01_08-00-00.avi", "2024-05-01T08:00:00.000"},
        {"dots, a space and milliseconds", "2024-05-01 08.00.00.250.mkv",
         "2024-05-01T08:00:00.250"},
        {"ISO with a T and colons", "clips/2024-05-01T08:30:15.mov", "2024-05-01T08:30:15.000"},
        {"17 digits", "20240501080000999.ts", "2024-05-01T08:00:00.999"},
        {"folder's date, name's time", "cam1/2024-05-01/08.00.00-09.00.00.mp4",
         "2024-05-01T08:00:00.000"},
        {"folder's compact date, name's time", "cam1/20240501/080000.mp4",
         "2024-05-01T08:00:00.000"},
        {"name's own date before the folder's", "2024-05-02/20240501_080000.mp4",
         "2024-05-01T08:00:00.000"},
        {"leap day of a leap year", "20240229_235959.mp4", "2024-02-29T23:59:59.000"},
        {"no date", "footage/garden.avi", ""},
        {"a time without a date", "cam1/080000.mp4", ""},
        {"a date without a time", "cam1/2024-05-01.mp4", ""},
        {"minutes but no seconds", "20240501_0800.mp4", ""},
        {"a longer run of digits", "120240501_080000.mp4", ""},
        {"folder not a date alone", "day 2024-05-01/080000.mp4", ""},
        {"month 13", "20241301_080000.mp4", ""},
        {"hour 25", "20240501_250000.mp4", ""},
        {"minute 60", "20240501_086000.mp4", ""},
        {"29 February of a year not leap", "20230229_080000.mp4", ""},
        {"31 April", "20240431_080000.mp4", ""},
        {"a clock never set", "19700101_000000.mp4", ""},
        {"folder of month 13", "2024-13-01/080000.mp4", ""},
        {"folder date, hour 25 in the name", "2024-05-01/250000.mp4", ""},
    };
    for (const NameRow& row : rows) {
        EXPECT_EQ(timeInPathText(row.path), row.expected) << row.name << ": " << row.path;
    }
}

TEST(StartInName, DateFoldersAreKnownByTheirNameAlone) {
    EXPECT_TRUE(pelmora::isDateFolderName("2024-05-01"));
    EXPECT_TRUE(pelmora::isDateFolderName("20240501"));
    EXPECT_FALSE(pelmora::isDateFolderName("cam1"));
    EXPECT_FALSE(pelmora::isDateFolderName("2024-02-30"));
    EXPECT_FALSE(pelmora::isDateFolderName("cam 2024-05-01"));
}

struct SourceRow {
    const char* name;
    const char* path;
    const char* creationTime;
    StartFrom from;
    const char* given;  // --start-time, or ""
    StartSource source;
    const char* clock;  // the first frame on the zone's clock, or ""
};

TEST(VideoStart, TheFirstSourceThatTellsItInTheirOrder) {
    const TimeZone berlin = zone("Europe/Berlin");
    const std::vector<SourceRow> rows = {
        {"name only", "cam1/20240501_080000.mp4", "", StartFrom::Any, "", StartSource::Name,
         "2024-05-01T08:00:00.000+02:00"},
        {"metadata only, UTC shown in the zone", "phone.mp4", "2024-05-01T06:00:00.000000Z",
         StartFrom::Any, "", StartSource::Metadata, "2024-05-01T08:00:00.000+02:00"},
        {"metadata without a zone is UTC", "phone.mp4", "2024-05-01 06:00:00", StartFrom::Any, "",
         StartSource::Metadata, "2024-05-01T08:00:00.000+02:00"},
        {"both: the name first", "20240501_080000.mp4", "2024-05-01T09:00:00.000000Z",
         StartFrom::Any, "", StartSource::Name, "2024-05-01T08:00:00.000+02:00"},
        {"both, metadata asked for", "20240501_080000.mp4", "2024-05-01T09:00:00.000000Z",
         StartFrom::Metadata, "", StartSource::Metadata, "2024-05-01T11:00:00.000+02:00"},
        {"metadata alone, the name asked for", "phone.mp4", "2024-05-01T06:00:00Z", StartFrom::Name,
         "", StartSource::None, ""},
        {"both, none asked for", "20240501_080000.mp4", "2024-05-01T06:00:00Z", StartFrom::None, "",
         StartSource::None, ""},
        {"a time given before both", "20240501_080000.mp4", "2024-05-01T06:00:00Z", StartFrom::Any,
         "2024-05-03T10:00:00", StartSource::Given, "2024-05-03T10:00:00.000+02:00"},
        {"a time given with its offset", "clip.mp4", "", StartFrom::Any,
         "2024-05-03T10:00:00.500+00:00", StartSource::Given, "2024-05-03T12:00:00.500+02:00"},
        {"none", "clip.mp4", "", StartFrom::Any, "", StartSource::None, ""},
        {"malformed metadata", "clip.mp4", "2024-13-01T00:00:00Z", StartFrom::Any, "",
         StartSource::None, ""},
        {"metadata of a clock never set", "clip.mp4", "1970-01-01T00:00:00.000000Z", StartFrom::Any,
         "", StartSource::None, ""},
        {"malformed name, metadata next", "20230229_080000.mp4", "2024-05-01T06:00:00Z",
         StartFrom::Any, "", StartSource::Metadata, "2024-05-01T08:00:00.000+02:00"},
    };
    for (const SourceRow& row : rows) {
        pelmora::StartOptions options;
        options.from = row.from;
        options.zone = berlin;
        if (*row.given != '\0') {
            options.given = pelmora::parseIsoTime(row.given);
            ASSERT_TRUE(options.given.has_value()) << row.name;
        }
        const pelmora::VideoStart start = pelmora::decideStart(row.path, row.creationTime, options);
        EXPECT_EQ(start.source, row.source) << row.name;
        EXPECT_EQ(start.clockTime(0), row.clock) << row.name;
    }
}

struct ZoneRow {
    const char* name;
    const char* zone;
    const char* path;
    const char* clock;
};

TEST(VideoStart, ANameIsAWallTimeOfTheZone) {
    const std::vector<ZoneRow> rows = {
        {"Berlin in summer", "Europe/Berlin", "20240501_080000.mp4",
         "2024-05-01T08:00:00.000+02:00"},
        {"Berlin in winter", "Europe/Berlin", "20240115_080000.mp4",
         "2024-01-15T08:00:00.000+01:00"},
        {"New York in summer", "America/New_York", "20240501_080000.mp4",
         "2024-05-01T08:00:00.000-04:00"},
        {"a fixed offset", "+05:30", "20240501_080000.mp4", "2024-05-01T08:00:00.000+05:30"},
        {"UTC", "UTC", "20240501_080000.mp4", "2024-05-01T08:00:00.000+00:00"},
        {"an hour the clock skips is read by the time before", "Europe/Berlin",
         "20240331_023000.mp4", "2024-03-31T03:30:00.000+02:00"},
        {"an hour shown twice is its first showing", "Europe/Berlin", "20241027_023000.mp4",
         "2024-10-27T02:30:00.000+02:00"},
        {"past the zone's table, by its rule", "Europe/Berlin", "20990701_120000.mp4",
         "2099-07-01T12:00:00.000+02:00"},
        {"past the table, in winter", "Europe/Berlin", "20991201_120000.mp4",
         "2099-12-01T12:00:00.000+01:00"},
    };
    for (const ZoneRow& row : rows) {
        pelmora::StartOptions options;
        options.zone = zone(row.zone);
        EXPECT_EQ(pelmora::decideStart(row.path, "", options).clockTime(0), row.clock) << row.name;
    }
    // The same wall time is two moments in two zones, six hours apart.
    pelmora::StartOptions berlin;
    berlin.zone = zone("Europe/Berlin");
    pelmora::StartOptions newYork;
    newYork.zone = zone("America/New_York");
    EXPECT_EQ(pelmora::decideStart("20240501_080000.mp4", "", newYork).utcMs -
                  pelmora::decideStart("20240501_080000.mp4", "", berlin).utcMs,
              6 * 3600 * 1000LL);
}

TEST(VideoStart, ClockTimesFollowTheZoneThroughAChangeOfOffset) {
    pelmora::StartOptions options;
    options.zone = zone("Europe/Berlin");
    const pelmora::VideoStart start = pelmora::decideStart("20240331_013000.mp4", "", options);
    EXPECT_EQ(start.clockTime(0), "2024-03-31T01:30:00.000+01:00");
    EXPECT_EQ(start.clockTime(3600 * 1000), "2024-03-31T03:30:00.000+02:00");
    EXPECT_EQ(start.clockTime(1250), "2024-03-31T01:30:01.250+01:00");
}

// A clock window's ends: a time of day is on the day the video starts on its zone's clock, which
// a video filmed across midnight in UTC still starts on.
TEST(VideoStart, MomentsOfTheClockOnTheDayAVideoStarts) {
    pelmora::StartOptions options;
    options.zone = zone("Europe/Berlin");
    const pelmora::VideoStart start = pelmora::decideStart("20240501_003000.mp4", "", options);
    const struct {
        const char* text;
        const char* clock;  // empty: refused
    } rows[] = {
        {"14:00", "2024-05-01T14:00:00.000+02:00"},
        {"00:00:00", "2024-05-01T00:00:00.000+02:00"},
        {"23:59:59", "2024-05-01T23:59:59.000+02:00"},
        {"2024-05-02T08:00:00", "2024-05-02T08:00:00.000+02:00"},
        {"2024-05-01T12:00:00Z", "2024-05-01T14:00:00.000+02:00"},
        {"24:00", ""},
        {"14:60", ""},
        {"14:00:05.5", ""},
        {"noon", ""},
    };
    for (const auto& row : rows) {
        std::string why;
        const std::optional<long long> at = pelmora::clockMomentMs(row.text, start, why);
        EXPECT_EQ(at ? start.clockTime(*at - start.utcMs) : std::string(), row.clock) << row.text;
        EXPECT_EQ(why.empty(), at.has_value()) << row.text;
    }
    std::string why;
    EXPECT_FALSE(pelmora::clockMomentMs("14:00", pelmora::VideoStart(), why));
    EXPECT_NE(why.find("no clock time"), std::string::npos);
}

struct IsoRow {
    const char* text;
    bool valid;
    const char* asUtc;  // with its offset applied, or the wall time where it has none
};

TEST(IsoTimes, TheFormsPeopleAndContainersWrite) {
    const std::vector<IsoRow> rows = {
        {"2024-05-01T08:00:00Z", true, "2024-05-01T08:00:00.000"},
        {"2024-05-01T08:00:00.000000Z", true, "2024-05-01T08:00:00.000"},
        {"2024-05-01 08:00", true, "2024-05-01T08:00:00.000"},
        {"2024-05-01T08:00:00.5+0200", true, "2024-05-01T06:00:00.500"},
        {"2024-05-01T08:00:00,25-03:30", true, "2024-05-01T11:30:00.250"},
        {"2024-05-01T08:00:00+02", true, "2024-05-01T06:00:00.000"},
        {"2024-05-01", false, ""},
        {"2024-05-01T8:00", false, ""},
        {"2024-02-30T00:00", false, ""},
        {"2024-05-01T24:00", false, ""},
        {"2024-05-01T08:00:00+24:00", false, ""},
        {"2024-05-01T08:00:00 ", false, ""},
        {"2024-05-01T08:00:00.", false, ""},
    };
    for (const IsoRow& row : rows) {
        const auto time = pelmora::parseIsoTime(row.text);
        ASSERT_EQ(time.has_value(), row.valid) << row.text;
        if (time) {
            const long long utc =
                pelmora::civilAsUtcMs(time->local) - time->offsetSeconds.value_or(0) * 1000LL;
            EXPECT_EQ(pelmora::isoClockTime(utc, TimeZone()).substr(0, 23), row.asUtc) << row.text;
        }
    }
}

TEST(IsoTimes, WrittenAsTheZonesClockShowsTheMoment) {
    const struct {
        const char* name;
        long long utcMs;
        int offsetSeconds;
        const char* iso;
        const char* readable;
    } rows[] = {
        {"the first moment", 0, 0, "1970-01-01T00:00:00.000+00:00", "1970-01-01 00:00:00 +00:00"},
        {"a millisecond before it", -1, 0, "1969-12-31T23:59:59.999+00:00",
         "1969-12-31 23:59:59 +00:00"},
        {"east, past midnight, seconds cut", 1714604399999LL, 5 * 3600 + 1800,
         "2024-05-02T04:29:59.999+05:30", "2024-05-02 04:29:59 +05:30"},
        {"west, back before midnight", 1709251200000LL, -3600, "2024-02-29T23:00:00.000-01:00",
         "2024-02-29 23:00:00 -01:00"},
    };
    for (const auto& row : rows) {
        const TimeZone zone = TimeZone::fixed(row.offsetSeconds);
        EXPECT_EQ(pelmora::isoClockTime(row.utcMs, zone), row.iso) << row.name;
        EXPECT_EQ(pelmora::readableClockTime(row.utcMs, zone), row.readable) << row.name;
    }
}

TEST(TimeZones, NamesOffsetsAndTheMachinesOwn) {
    std::string error;
    EXPECT_FALSE(TimeZone::named("Mars/Olympus_Mons", error).has_value());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(TimeZone::named("../../etc/passwd", error).has_value());
    EXPECT_FALSE(TimeZone::named("+25:00", error).has_value());
    EXPECT_EQ(zone("-0330").name(), "-03:30");
    EXPECT_EQ(zone("-0330").offsetAt(0), -12600);

    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    EXPECT_EQ(TimeZone::machine().name(), "Europe/Berlin");
    ::setenv("TZ", ":America/New_York", 1);
    EXPECT_EQ(TimeZone::machine().offsetAt(pelmora::civilAsUtcMs({2024, 5, 1})), -4 * 3600);
    // A POSIX rule rather than a name: Chile's, with summer time in the southern summer.
    ::setenv("TZ", "<-04>4<-03>,M9.1.6/24,M4.1.6/24", 1);
    EXPECT_EQ(TimeZone::machine().offsetAt(pelmora::civilAsUtcMs({2024, 1, 15})), -3 * 3600);
    EXPECT_EQ(TimeZone::machine().offsetAt(pelmora::civilAsUtcMs({2024, 6, 15})), -4 * 3600);
    if (saved != nullptr) {
        ::setenv("TZ", before.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
}

// A zone that names a folder, a device that never ends or a FIFO with no writer is no zone: it
// is refused by name, and as the machine's TZ it is UTC, said once, rather than an abort, a
// read until memory runs out, or a wait for ever.
TEST(TimeZones, NamesOfWhatIsNoZoneFileAreRefusedOrUtc) {
    testsupport::TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    struct Row {
        const char* name;
        std::string tz;
    };
    const std::vector<Row> rows = {
        {"a folder of the database", "America"},
        {"a folder by path", "/usr/share/zoneinfo/Europe"},
        {"a device without end", "/dev/zero"},
        {"a FIFO", dir.file("fifo")},
    };
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    for (const Row& row : rows) {
        std::string error;
        if (row.tz[0] != '/') {
            EXPECT_FALSE(TimeZone::named(row.tz, error).has_value()) << row.name;
            EXPECT_FALSE(error.empty()) << row.name;
        }
        ::setenv("TZ", row.tz.c_str(), 1);
        std::string said;
        EXPECT_EQ(TimeZone::machine(&said).offsetAt(pelmora::civilAsUtcMs({2024, 5, 1})), 0)
            << row.name;
        EXPECT_EQ(said,
                  "TZ=" + row.tz + " is neither a zone of the database nor a rule: times are UTC")
            << row.name;
    }
    ::setenv("TZ", "Europe/Berlin", 1);
    std::string said;
    EXPECT_EQ(TimeZone::machine(&said).name(), "Europe/Berlin");
    EXPECT_EQ(said, "");
    if (saved != nullptr) {
        ::setenv("TZ", before.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
}

}  // namespace

// The machine's TZ as the C library reads it: a file of the database by its path is that zone, a
// summer time named without its dates keeps glibc's (the second Sunday of March to the first of
// November), and a name of letters beyond ASCII is no rule.
TEST(TimeZones, TheMachinesZoneByPathOrByARuleWithoutItsDates) {
    struct Row {
        const char* tz;
        pelmora::CivilTime utc;
        int offset;
        const char* name;  // "" where TZ is said to be unreadable
    };
    const std::vector<Row> rows = {
        {"/usr/share/zoneinfo/Europe/Paris", {2024, 7, 1}, 7200, "Europe/Paris"},
        {"/usr/share/zoneinfo/Asia/../Asia/Tokyo", {2024, 7, 1}, 9 * 3600, "Asia/Tokyo"},
        {"ABC5DEF", {2024, 3, 10, 6, 59, 59}, -5 * 3600, "ABC5DEF"},
        {"ABC5DEF", {2024, 3, 10, 7}, -4 * 3600, "ABC5DEF"},
        {"ABC5DEF", {2024, 11, 3, 5, 59, 59}, -4 * 3600, "ABC5DEF"},
        {"ABC5DEF", {2024, 11, 3, 6}, -5 * 3600, "ABC5DEF"},
        {"ABC5", {2024, 7, 1}, -5 * 3600, "ABC5"},
        {"<+0530>-5:30", {2024, 7, 1}, 19800, "<+0530>-5:30"},
        {":Europe/Berlin", {2099, 7, 1}, 7200, "Europe/Berlin"},
        {"Europe/B\xc3\xa9rlin", {2024, 7, 1}, 0, ""},
    };
    const char* saved = std::getenv("TZ");
    const std::string before = saved != nullptr ? saved : "";
    for (const Row& row : rows) {
        ::setenv("TZ", row.tz, 1);
        std::string said;
        const TimeZone machine = TimeZone::machine(&said);
        EXPECT_EQ(machine.offsetAt(pelmora::civilAsUtcMs(row.utc)), row.offset) << row.tz;
        if (*row.name != '\0') {
            EXPECT_EQ(machine.name(), row.name) << row.tz;
            EXPECT_EQ(said, "") << row.tz;
        } else {
            EXPECT_EQ(said, "TZ=" + std::string(row.tz) +
                                " is neither a zone of the database nor a rule: times are UTC");
        }
    }
    if (saved != nullptr) {
        ::setenv("TZ", before.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
}
