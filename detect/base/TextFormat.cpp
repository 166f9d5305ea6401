#include "TextFormat.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace pelmora {

std::string formatText(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

std::string percentEncoded(const std::string& bytes, const char* alsoPlain) {
    static const char kHex[] = "0123456789ABCDEF";
    const std::string extra = alsoPlain;
    std::string encoded;
    encoded.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~' || extra.find(c) != std::string::npos;
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string groupedNumber(long long number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return number < 0 ? "-" + digits : digits;
}

std::string timecode(long long milliseconds) {
    if (milliseconds < 0) {
        return "-" + timecode(-milliseconds);
    }
    return formatText("%02lld:%02lld:%02lld.%03lld", milliseconds / 3600000,
                      milliseconds / 60000 % 60, milliseconds / 1000 % 60, milliseconds % 1000);
}

std::string plainSeconds(long long milliseconds) {
    return formatText("%g s", static_cast<double>(milliseconds) / 1000.0);
}

std::string minutesAndSeconds(long long seconds) {
    return formatText("%lld:%02lld", seconds / 60, seconds % 60);
}

std::string hoursMinutesSeconds(long long seconds) {
    return formatText("%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string secondsInTenths(double seconds) {
    // printf takes an exact half to the even tenth. A half is exact only when the tenfold
    // product is, which the fused multiply-add tells by leaving no remainder.
    const double tenths = seconds * 10.0;
    if (std::fma(seconds, 10.0, -tenths) == 0.0 && std::fabs(tenths - std::trunc(tenths)) == 0.5) {
        seconds = (tenths + std::copysign(0.5, tenths)) / 10.0;
    }
    return formatText("%.1f s", seconds);
}

std::string secondsInHundredths(double seconds) {
    return formatText("%.2f s", seconds);
}

std::string timeLeft(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0.0) {
        return "--";
    }
    // Decided on the shown tenths, so that 59.96 s reads "1:00" rather than "60.0 s".
    if (std::round(seconds * 10.0) < 600.0) {
        return secondsInTenths(seconds);
    }
    const long long whole = std::llround(seconds);
    return whole < 3600 ? minutesAndSeconds(whole) : hoursMinutesSeconds(whole);
}

}  // namespace pelmora
