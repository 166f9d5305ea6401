#include "ClockTime.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "TextFormat.h"

// ISO 8601 as the lists and pages write a clock time, and as --start-time reads one.

namespace pelmora {

std::string isoClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    const CivilTime time = civilFromUtcMs(utcMs + offset * 1000LL);
    return formatText("%04d-%02d-%02dT%02d:%02d:%02d.%03d%s", time.year, time.month, time.day,
                      time.hour, time.minute, time.second, time.millisecond,
                      offsetText(offset).c_str());
}

std::string readableClockTime(long long utcMs, const TimeZone& zone) {
    const int offset = zone.offsetAt(utcMs);
    const CivilTime time = civilFromUtcMs(utcMs + offset * 1000LL);
    return formatText("%04d-%02d-%02d %02d:%02d:%02d %s", time.year, time.month, time.day,
                      time.hour, time.minute, time.second, offsetText(offset).c_str());
}

std::optional<IsoTime> parseIsoTime(const std::string& text) {
    std::size_t at = 0;
    const auto digits = [&](int count, int& value) {
        value = 0;
        for (int i = 0; i < count; ++i, ++at) {
            if (at >= text.size() || std::isdigit(static_cast<unsigned char>(text[at])) == 0) {
                return false;
            }
            value = value * 10 + (text[at] - '0');
        }
        return true;
    };
    const auto expect = [&](const char* any) {
        if (at < text.size() && std::string(any).find(text[at]) != std::string::npos) {
            ++at;
            return true;
        }
        return false;
    };
    IsoTime time;
    CivilTime& local = time.local;
    if (!digits(4, local.year) || !expect("-") || !digits(2, local.month) || !expect("-") ||
        !digits(2, local.day) || !expect("Tt ") || !digits(2, local.hour) || !expect(":") ||
        !digits(2, local.minute)) {
        return std::nullopt;
    }
    if (expect(":")) {
        if (!digits(2, local.second)) {
            return std::nullopt;
        }
        if (expect(".,")) {
            const std::size_t start = at;
            while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
                ++at;
            }
            if (at == start) {
                return std::nullopt;
            }
            local.millisecond = std::stoi(
                (text.substr(start, std::min<std::size_t>(at - start, 3)) + "00").substr(0, 3));
        }
    }
    if (expect("Zz")) {
        time.offsetSeconds = 0;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at++] == '-' ? -1 : 1;
        int hours = 0;
        int minutes = 0;
        if (!digits(2, hours)) {
            return std::nullopt;
        }
        if (at < text.size()) {
            expect(":");
            if (!digits(2, minutes)) {
                return std::nullopt;
            }
        }
        if (hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        time.offsetSeconds = sign * (hours * 3600 + minutes * 60);
    }
    if (at != text.size() || !isValidCivilTime(local)) {
        return std::nullopt;
    }
    return time;
}

}  // namespace pelmora
