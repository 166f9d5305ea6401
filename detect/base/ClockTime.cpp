#include "ClockTime.h"

// ptz.h defines a function that is not inline: this file is the only one to include it.
#include <date/date.h>
#include <date/ptz.h>
#include <date/tz.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <utility>

#include "TextFormat.h"

namespace pelmora {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The folder Debian's build of the date library reads the zones from (it has no TZDIR).
constexpr char kZoneFolder[] = "/usr/share/zoneinfo";

// The largest file of the zone database is a few kilobytes; a megabyte is no zone.
constexpr off_t kLargestZoneFile = 1 << 20;

// A regular file's bytes, whole. A folder, a device or a FIFO is no zone's file: /dev/zero would
// never end and a FIFO would wait for a writer, so the file is opened without waiting and looked
// at before a byte is read.
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

// Text the rule reader may see: it asks std::isalpha of plain chars, which is undefined for the
// bytes of letters beyond ASCII.
bool isPlainText(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 127; });
}

// A zone as a POSIX TZ rule says it ("CET-1CEST,M3.5.0,M10.5.0/3"). The library's reader takes
// no negative time of day for a change, as in Greenland's "M3.5.0/-1": such a rule is no rule,
// and Greenland's zones keep the last offset of their table after it.
std::optional<Posix::time_zone> readRule(const std::string& text) {
    if (!isPlainText(text)) {
        return std::nullopt;
    }
    try {
        Posix::time_zone rule(text);
        if (text.find(',') == std::string::npos) {
            // A summer time named without its dates: the dates POSIX leaves to the system, as
            // glibc has them. A rule without a summer time takes no dates and stays as it is.
            try {
                return Posix::time_zone(text + ",M3.2.0,M11.1.0");
            } catch (const std::exception&) {
            }
        }
        return rule;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The rule at the end of a zone database file (RFC 8536), between its last two newlines, or ""
// where there is none; false for bytes that are no zone's file.
bool readFooter(const std::string& bytes, std::string& footer) {
    if (bytes.size() < 44 || bytes.compare(0, 4, "TZif") != 0) {
        return false;
    }
    footer.clear();
    const std::string::size_type open = bytes.rfind('\n', bytes.size() - 2);
    if (bytes[4] >= '2' && bytes.back() == '\n' && open != std::string::npos) {
        footer = bytes.substr(open + 1, bytes.size() - open - 2);
    }
    return true;
}

// Where the library's table of a zone ends, it says its last offset lasts until about the year
// 32767.
constexpr date::sys_seconds kTableEnd{date::sys_days{date::year::max() / date::January / 1}};

// A zone's offsets: the library's table of the database, the rule after it, or one offset.
struct Offsets {
    const date::time_zone* table = nullptr;
    // After the table's last change, or the zone's only rule. The library reads the table of a
    // database file but not its closing rule, and would keep the table's last offset (that of
    // 2037 in Debian's files) for ever after.
    std::optional<Posix::time_zone> rule;
    seconds fixed{0};

    seconds at(date::sys_seconds utc) const {
        if (table != nullptr) {
            const date::sys_info info = table->get_info(utc);
            if (!rule || info.end < kTableEnd) {
                return info.offset;
            }
        }
        return rule ? rule->get_info(utc).offset : fixed;
    }

    // The offset in force as the clock shows wall: the earlier of two where it shows it twice,
    // the one before the jump where it never shows it.
    seconds before(date::local_seconds wall) const {
        if (table != nullptr) {
            const date::local_info info = table->get_info(wall);
            if (!rule || info.first.end < kTableEnd) {
                return info.first.offset;
            }
        }
        return rule ? rule->get_info(wall).first.offset : fixed;
    }
};

// A zone of the database by its name. The name is never a path out of the folder, and the
// library knows only the names its listing of the folder found, folders left out; its file is
// still looked at here before the library reads it, as the listing would take a FIFO, a device
// or a huge file put there for a zone.
std::optional<Offsets> databaseZone(const std::string& name, std::string& error) {
    if (!isPlainText(name) || name[0] == '/' || name.find("..") != std::string::npos) {
        error = "no such zone";
        return std::nullopt;
    }
    Offsets offsets;
    std::string bytes;
    std::string footer;
    try {
        offsets.table = date::locate_zone(name);
    } catch (const std::exception&) {
    }
    if (offsets.table == nullptr || !readWhole(kZoneFolder + ("/" + name), bytes)) {
        error = "no such zone in " + std::string(kZoneFolder);
        return std::nullopt;
    }
    bool read = readFooter(bytes, footer);
    try {
        // The library reads the zone's file at its first question, and throws for one it cannot.
        if (read) {
            offsets.table->get_info(date::sys_seconds{});
        }
    } catch (const std::exception&) {
        read = false;
    }
    if (!read) {
        error = "not a zone of the database";
        return std::nullopt;
    }
    offsets.rule = readRule(footer);
    return offsets;
}

// The zone's name of a file of the database named by its path, "" for a path elsewhere.
std::string nameOfPath(const std::string& path) {
    std::error_code failed;
    const std::string real = std::filesystem::canonical(path, failed).string();
    const std::string folder = std::string(kZoneFolder) + "/";
    return !failed && real.compare(0, folder.size(), folder) == 0 ? real.substr(folder.size())
                                                                  : std::string();
}

}  // namespace

struct TimeZone::Rules {
    std::string name;
    Offsets offsets;
};

bool isValidCivilTime(const CivilTime& time) {
    if (time.year < kFirstClockYear || time.year > kLastClockYear || time.month < 1 ||
        time.month > 12 || time.day < 1) {
        return false;
    }
    const date::year_month_day_last last{date::year{time.year} / time.month / date::last};
    return static_cast<unsigned>(time.day) <= static_cast<unsigned>(last.day()) && time.hour >= 0 &&
           time.hour <= 23 && time.minute >= 0 && time.minute <= 59 && time.second >= 0 &&
           time.second <= 59 && time.millisecond >= 0 && time.millisecond <= 999;
}

long long civilAsUtcMs(const CivilTime& time) {
    const date::sys_days day = date::year{time.year} / time.month / time.day;
    return (day.time_since_epoch() + std::chrono::hours{time.hour} +
            std::chrono::minutes{time.minute} + seconds{time.second} +
            milliseconds{time.millisecond})
        .count();
}

CivilTime civilFromUtcMs(long long utcMs) {
    const date::sys_time<milliseconds> moment{milliseconds{utcMs}};
    const date::sys_days day = date::floor<date::days>(moment);
    const date::year_month_day date{day};
    const date::hh_mm_ss<milliseconds> clock{moment - day};
    return {static_cast<int>(date.year()),
            static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day())),
            static_cast<int>(clock.hours().count()),
            static_cast<int>(clock.minutes().count()),
            static_cast<int>(clock.seconds().count()),
            static_cast<int>(clock.subseconds().count())};
}

TimeZone::TimeZone() : TimeZone(fixed(0)) {}

TimeZone::TimeZone(std::shared_ptr<const Rules> rules) : rules(std::move(rules)) {}

std::string offsetText(int offsetSeconds) {
    const int minutes = std::abs(offsetSeconds) / 60;
    return formatText("%c%02d:%02d", offsetSeconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

TimeZone TimeZone::fixed(int offsetSeconds) {
    Offsets offsets;
    offsets.fixed = seconds{offsetSeconds};
    return TimeZone(std::make_shared<Rules>(
        Rules{offsetSeconds == 0 ? "UTC" : offsetText(offsetSeconds), offsets}));
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
    if (auto offsets = databaseZone(name, error)) {
        return TimeZone(std::make_shared<Rules>(Rules{name, std::move(*offsets)}));
    }
    return std::nullopt;
}

TimeZone TimeZone::machine(std::string* unreadable) {
    std::string error;
    const char* variable = std::getenv("TZ");
    if (variable == nullptr || *variable == '\0') {
        // The zone /etc/localtime links to, or Debian's /etc/timezone names.
        std::string name;
        try {
            name = date::current_zone()->name();
        } catch (const std::exception&) {
            return fixed(0);
        }
        auto offsets = databaseZone(name, error);
        if (!offsets) {
            return fixed(0);
        }
        if (name == "Etc/UTC" || name == "Etc/Universal" || name == "Etc/Zulu") {
            name = "UTC";
        }
        return TimeZone(std::make_shared<Rules>(Rules{name, std::move(*offsets)}));
    }
    const std::string tz = variable[0] == ':' ? variable + 1 : variable;
    const std::string name = !tz.empty() && tz[0] == '/' ? nameOfPath(tz) : tz;
    if (auto offsets = databaseZone(name, error)) {
        return TimeZone(std::make_shared<Rules>(Rules{name, std::move(*offsets)}));
    }
    if (auto rule = readRule(tz)) {
        Offsets offsets;
        offsets.rule = std::move(rule);
        return TimeZone(std::make_shared<Rules>(Rules{tz, std::move(offsets)}));
    }
    // As the C library does with a TZ it cannot read.
    if (unreadable != nullptr) {
        *unreadable = "TZ=" + std::string(variable) +
                      " is neither a zone of the database nor a rule: times are UTC";
    }
    return fixed(0);
}

const std::string& TimeZone::name() const {
    return rules->name;
}

int TimeZone::offsetAt(long long utcMs) const {
    const date::sys_time<milliseconds> moment{milliseconds{utcMs}};
    return static_cast<int>(rules->offsets.at(date::floor<seconds>(moment)).count());
}

long long TimeZone::utcOfLocal(const CivilTime& local) const {
    const long long wall = civilAsUtcMs(local);
    const date::local_time<milliseconds> shown{milliseconds{wall}};
    return wall - milliseconds{rules->offsets.before(date::floor<seconds>(shown))}.count();
}

}  // namespace pelmora
