#include "ClockTime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr long long kDayMs = 86400000LL;

bool isLeapYear(long long year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(long long year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back, by the
// well-known era arithmetic, exact for every date.
long long daysFromCivil(long long year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(long long days, int& year, int& month, int& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

long long floorDiv(long long value, long long by) {
    return value / by - (value % by < 0 ? 1 : 0);
}

// A date of a POSIX zone rule: "Jn" (day 1..365, 29 February never counted), "n" (day 0..365,
// counted), or "Mm.w.d" (weekday d of week w of month m, week 5 being the last).
struct RuleDate {
    char kind = 'M';
    int a = 0;
    int b = 0;
    int c = 0;

    long long dayOf(long long year) const {
        const long long january = daysFromCivil(year, 1, 1);
        if (kind == 'J') {
            return january + a - 1 + (isLeapYear(year) && a >= 60 ? 1 : 0);
        }
        if (kind == 'N') {
            return january + a;
        }
        const long long first = daysFromCivil(year, a, 1);
        const int firstWeekday = static_cast<int>(((first + 4) % 7 + 7) % 7);  // 0: Sunday
        int day = 1 + (c - firstWeekday + 7) % 7 + 7 * (b - 1);
        while (day > daysInMonth(year, a)) {
            day -= 7;
        }
        return first + day - 1;
    }
};

// A zone as a POSIX TZ rule says it ("CET-1CEST,M3.5.0,M10.5.0/3"): standard time, and a
// summer time between two dates of every year.
struct PosixRule {
    int standardOffset = 0;  // seconds east of UTC
    bool summer = false;
    int summerOffset = 0;
    RuleDate start;
    RuleDate end;
    int startTime = 7200;  // local seconds into the day
    int endTime = 7200;

    int offsetAt(long long utcSeconds) const {
        if (!summer) {
            return standardOffset;
        }
        int year = 0;
        int month = 0;
        int day = 0;
        civilFromDays(floorDiv(utcSeconds + standardOffset, 86400), year, month, day);
        const long long begins = start.dayOf(year) * 86400 + startTime - standardOffset;
        const long long ends = end.dayOf(year) * 86400 + endTime - summerOffset;
        const bool inSummer = begins < ends ? utcSeconds >= begins && utcSeconds < ends
                                            : !(utcSeconds >= ends && utcSeconds < begins);
        return inSummer ? summerOffset : standardOffset;
    }
};

class RuleReader {
public:
    explicit RuleReader(const std::string& text) : text(text) {}

    std::optional<PosixRule> read() {
        PosixRule rule;
        int offset = 0;
        if (!name() || !signedTime(offset)) {
            return std::nullopt;
        }
        // POSIX counts offsets west of Greenwich.
        rule.standardOffset = -offset;
        if (at == text.size()) {
            return rule;
        }
        if (!name()) {
            return std::nullopt;
        }
        rule.summer = true;
        rule.summerOffset = rule.standardOffset + 3600;
        if (at < text.size() && text[at] != ',') {
            if (!signedTime(offset)) {
                return std::nullopt;
            }
            rule.summerOffset = -offset;
        }
        if (at == text.size()) {
            // The rule POSIX leaves to the system; this one is glibc's.
            rule.start = {'M', 3, 2, 0};
            rule.end = {'M', 11, 1, 0};
            return rule;
        }
        if (!expect(',') || !date(rule.start, rule.startTime) || !expect(',') ||
            !date(rule.end, rule.endTime) || at != text.size()) {
            return std::nullopt;
        }
        return rule;
    }

private:
    bool expect(char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }

    bool name() {
        if (expect('<')) {
            const std::string::size_type close = text.find('>', at);
            if (close == std::string::npos || close - at < 3) {
                return false;
            }
            at = close + 1;
            return true;
        }
        const std::string::size_type start = at;
        while (at < text.size() && std::isalpha(static_cast<unsigned char>(text[at])) != 0) {
            ++at;
        }
        return at - start >= 3;
    }

    bool number(int& value, int digits) {
        const std::string::size_type start = at;
        value = 0;
        while (at < text.size() && at - start < static_cast<std::size_t>(digits) &&
               std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
            value = value * 10 + (text[at++] - '0');
        }
        return at > start;
    }

    // [+-]hh[:mm[:ss]] in seconds.
    bool signedTime(int& seconds) {
        const bool negative = expect('-');
        if (!negative) {
            expect('+');
        }
        int hours = 0;
        int minutes = 0;
        int secs = 0;
        if (!number(hours, 3)) {
            return false;
        }
        if (expect(':') && (!number(minutes, 2) || (expect(':') && !number(secs, 2)))) {
            return false;
        }
        seconds = (negative ? -1 : 1) * (hours * 3600 + minutes * 60 + secs);
        return true;
    }

    bool date(RuleDate& date, int& time) {
        if (expect('M')) {
            date.kind = 'M';
            if (!number(date.a, 2) || !expect('.') || !number(date.b, 1) || !expect('.') ||
                !number(date.c, 1) || date.a < 1 || date.a > 12 || date.b < 1 || date.b > 5 ||
                date.c > 6) {
                return false;
            }
        } else if (expect('J')) {
            date.kind = 'J';
            if (!number(date.a, 3) || date.a < 1 || date.a > 365) {
                return false;
            }
        } else {
            date.kind = 'N';
            if (!number(date.a, 3) || date.a > 365) {
                return false;
            }
        }
        time = 7200;
        return !expect('/') || signedTime(time);
    }

    const std::string& text;
    std::string::size_type at = 0;
};

std::uint64_t bigEndian(const std::string& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::string zoneFolder() {
    const char* folder = std::getenv("TZDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/usr/share/zoneinfo";
}

// The largest file of the zone database is a few kilobytes; a megabyte is no zone.
constexpr off_t kLargestZoneFile = 1 << 20;

// A regular file's bytes, whole. A folder, a device or a FIFO is no zone's file: a folder would
// throw from the stream, /dev/zero would never end, and a FIFO would wait for a writer, so the
// file is opened without waiting and looked at before a byte is read.
bool readWhole(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool read =
        ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kLargestZoneFile;
    bytes.clear();
    char block[8192];
    while (read) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0 || bytes.size() + static_cast<std::size_t>(got) > kLargestZoneFile) {
            read = got == 0;
            break;
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return read;
}

}  // namespace

struct TimeZone::Rules {
    std::string name;
    // The moments the offset changes, in seconds since the epoch, and the offset from each on.
    std::vector<std::pair<long long, int>> changes;
    int offsetBefore = 0;  // before the first change
    // After the last change, where the table ends and the rule goes on.
    std::optional<PosixRule> rule;

    int offsetAt(long long utcSeconds) const {
        const auto after = std::upper_bound(
            changes.begin(), changes.end(), utcSeconds,
            [](long long t, const std::pair<long long, int>& change) { return t < change.first; });
        if (after == changes.begin()) {
            return changes.empty() && rule ? rule->offsetAt(utcSeconds) : offsetBefore;
        }
        if (after == changes.end() && rule) {
            return rule->offsetAt(utcSeconds);
        }
        return std::prev(after)->second;
    }

    // A zone database file (RFC 8536), its 64-bit table where it has one; false for anything
    // else.
    bool readDatabaseFile(const std::string& bytes) {
        if (bytes.size() < 44 || bytes.compare(0, 4, "TZif") != 0) {
            return false;
        }
        std::size_t at = 0;
        const auto block = [&](int timeSize, std::size_t& end) {
            if (bytes.size() < at + 44) {
                return false;
            }
            const std::uint64_t isUtc = bigEndian(bytes, at + 20, 4);
            const std::uint64_t isStandard = bigEndian(bytes, at + 24, 4);
            const std::uint64_t leaps = bigEndian(bytes, at + 28, 4);
            const std::uint64_t times = bigEndian(bytes, at + 32, 4);
            const std::uint64_t types = bigEndian(bytes, at + 36, 4);
            const std::uint64_t chars = bigEndian(bytes, at + 40, 4);
            const std::size_t data = at + 44;
            end = data + times * (timeSize + 1) + types * 6 + chars + leaps * (timeSize + 4) +
                  isStandard + isUtc;
            if (types == 0 || end > bytes.size()) {
                return false;
            }
            std::vector<int> offsets;
            const std::size_t typeData = data + times * (timeSize + 1);
            for (std::uint64_t i = 0; i < types; ++i) {
                offsets.push_back(static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(bigEndian(bytes, typeData + i * 6, 4))));
            }
            changes.clear();
            for (std::uint64_t i = 0; i < times; ++i) {
                const std::uint64_t raw = bigEndian(bytes, data + i * timeSize, timeSize);
                const long long when =
                    timeSize == 8 ? static_cast<long long>(static_cast<std::int64_t>(raw))
                                  : static_cast<std::int32_t>(static_cast<std::uint32_t>(raw));
                const auto type = static_cast<unsigned char>(bytes[data + times * timeSize + i]);
                if (type >= offsets.size()) {
                    return false;
                }
                changes.emplace_back(when, offsets[type]);
            }
            offsetBefore = offsets.front();
            return true;
        };
        std::size_t end = 0;
        if (!block(4, end)) {
            return false;
        }
        if (bytes[4] >= '2') {
            at = end;
            if (bytes.compare(at, 4, "TZif") != 0 || !block(8, end)) {
                return false;
            }
            // The footer: the rule for the times after the table, between two newlines.
            if (end < bytes.size() && bytes[end] == '\n') {
                const std::string::size_type close = bytes.find('\n', end + 1);
                if (close != std::string::npos && close > end + 1) {
                    rule = RuleReader(bytes.substr(end + 1, close - end - 1)).read();
                }
            }
        }
        return true;
    }
};

bool isValidCivilTime(const CivilTime& time) {
    return time.year >= kFirstClockYear && time.year <= kLastClockYear && time.month >= 1 &&
           time.month <= 12 && time.day >= 1 && time.day <= daysInMonth(time.year, time.month) &&
           time.hour >= 0 && time.hour <= 23 && time.minute >= 0 && time.minute <= 59 &&
           time.second >= 0 && time.second <= 59 && time.millisecond >= 0 &&
           time.millisecond <= 999;
}

long long civilAsUtcMs(const CivilTime& time) {
    return daysFromCivil(time.year, time.month, time.day) * kDayMs +
           ((time.hour * 60LL + time.minute) * 60 + time.second) * 1000 + time.millisecond;
}

CivilTime civilFromUtcMs(long long utcMs) {
    CivilTime time;
    const long long days = floorDiv(utcMs, kDayMs);
    civilFromDays(days, time.year, time.month, time.day);
    long long rest = utcMs - days * kDayMs;
    time.millisecond = static_cast<int>(rest % 1000);
    rest /= 1000;
    time.second = static_cast<int>(rest % 60);
    time.minute = static_cast<int>(rest / 60 % 60);
    time.hour = static_cast<int>(rest / 3600);
    return time;
}

TimeZone::TimeZone() : TimeZone(fixed(0)) {}

TimeZone::TimeZone(std::shared_ptr<const Rules> rules) : rules(std::move(rules)) {}

std::string offsetText(int offsetSeconds) {
    const int minutes = std::abs(offsetSeconds) / 60;
    return formatText("%c%02d:%02d", offsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

TimeZone TimeZone::fixed(int offsetSeconds) {
    auto rules = std::make_shared<Rules>();
    rules->name = offsetSeconds == 0 ? "UTC" : offsetText(offsetSeconds);
    rules->offsetBefore = offsetSeconds;
    return TimeZone(std::move(rules));
}

std::optional<TimeZone> TimeZone::named(const std::string& name, std::string& error) {
    if (name == "UTC" || name == "Z") {
        return fixed(0);
    }
    // "+02:00", "-0530", "+05".
    if (name.size() >= 3 && (name[0] == '+' || name[0] == '-')) {
        if (const auto time = parseIsoTime("2000-01-01T00:00" + name)) {
            if (time->offsetSeconds) {
                return fixed(*time->offsetSeconds);
            }
        }
        error = "an offset is written +HH:MM or -HH:MM, up to 23:59";
        return std::nullopt;
    }
    // A name of the database, never a path out of it.
    if (name.empty() || name[0] == '/' || name.find("..") != std::string::npos) {
        error = "no such zone";
        return std::nullopt;
    }
    auto rules = std::make_shared<Rules>();
    std::string bytes;
    if (!readWhole(zoneFolder() + "/" + name, bytes)) {
        error = "no such zone in " + zoneFolder();
        return std::nullopt;
    }
    if (!rules->readDatabaseFile(bytes)) {
        error = "not a zone of the database";
        return std::nullopt;
    }
    rules->name = name;
    return TimeZone(std::move(rules));
}

TimeZone TimeZone::machine(std::string* unreadable) {
    std::string bytes;
    auto rules = std::make_shared<Rules>();
    const char* variable = std::getenv("TZ");
    if (variable != nullptr && *variable != '\0') {
        std::string tz = variable;
        if (tz[0] == ':') {
            tz.erase(0, 1);
        }
        const std::string path = !tz.empty() && tz[0] == '/' ? tz : zoneFolder() + "/" + tz;
        if (tz.find("..") == std::string::npos && readWhole(path, bytes) &&
            rules->readDatabaseFile(bytes)) {
            const std::string::size_type inside = path.find("zoneinfo/");
            rules->name = tz[0] != '/'                  ? tz
                          : inside != std::string::npos ? path.substr(inside + 9)
                                                        : tz;
            return TimeZone(std::move(rules));
        }
        if (const auto rule = RuleReader(tz).read()) {
            rules->rule = rule;
            rules->offsetBefore = rule->standardOffset;
            rules->name = tz;
            return TimeZone(std::move(rules));
        }
        // As the C library does with a TZ it cannot read.
        if (unreadable != nullptr) {
            *unreadable = "TZ=" + std::string(variable) +
                          " is neither a zone of the database nor a rule: times are UTC";
        }
        return fixed(0);
    }
    if (!readWhole("/etc/localtime", bytes) || !rules->readDatabaseFile(bytes)) {
        return fixed(0);
    }
    // The zone's name from where the link points, or from Debian's /etc/timezone.
    char target[4096] = "";
    const ssize_t length = ::readlink("/etc/localtime", target, sizeof target - 1);
    const std::string link(target, length > 0 ? static_cast<std::size_t>(length) : 0);
    const std::string::size_type inside = link.find("zoneinfo/");
    std::string name;
    if (inside != std::string::npos) {
        name = link.substr(inside + 9);
    } else if (std::string lines; readWhole("/etc/timezone", lines)) {
        name = lines.substr(0, lines.find('\n'));
        name.erase(name.find_last_not_of(" \t\r") + 1);
    }
    rules->name = name.empty() ? "localtime" : name;
    if (rules->name == "Etc/UTC" || rules->name == "Etc/Universal" || rules->name == "Etc/Zulu") {
        rules->name = "UTC";
    }
    return TimeZone(std::move(rules));
}

const std::string& TimeZone::name() const {
    return rules->name;
}

int TimeZone::offsetAt(long long utcMs) const {
    return rules->offsetAt(floorDiv(utcMs, 1000));
}

long long TimeZone::utcOfLocal(const CivilTime& local) const {
    const long long wall = civilAsUtcMs(local);
    // The offsets in force a day either side cover every change of a zone: none changes twice
    // within a day.
    const int before = offsetAt(wall - kDayMs);
    const int after = offsetAt(wall + kDayMs);
    std::optional<long long> first;
    for (const int offset : {before, after}) {
        const long long utc = wall - offset * 1000LL;
        if (offsetAt(utc) == offset && (!first || utc < *first)) {
            first = utc;
        }
    }
    // Not shown at all: the clock jumped over it, and the offset before the jump places it.
    return first ? *first : wall - before * 1000LL;
}

}  // namespace pelmora
