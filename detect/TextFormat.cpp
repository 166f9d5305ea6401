#include "TextFormat.h"

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

std::string timecode(long long milliseconds) {
    if (milliseconds < 0) {
        return "-" + timecode(-milliseconds);
    }
    return formatText("%02lld:%02lld:%02lld.%03lld", milliseconds / 3600000,
                      milliseconds / 60000 % 60, milliseconds / 1000 % 60, milliseconds % 1000);
}

}  // namespace pelmora
