#include "KnownMoments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <sstream>

#include "FileOutput.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

constexpr std::size_t kLongestMomentsFile = 16 * 1024 * 1024;

bool allDigits(const std::string& text, std::size_t longest) {
    return !text.empty() && text.size() <= longest &&
           text.find_first_not_of("0123456789") == std::string::npos;
}

// "5", "25" or "125" after a point as milliseconds: 500, 250, 125.
std::optional<long long> fractionMs(const std::string& digits) {
    if (!allDigits(digits, 3)) {
        return std::nullopt;
    }
    return std::stoll((digits + "00").substr(0, 3));
}

std::string trimmed(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

}  // namespace

std::optional<long long> momentTimeMs(const std::string& text) {
    const std::string::size_type point = text.find('.');
    const std::string whole = text.substr(0, point);
    long long fraction = 0;
    if (point != std::string::npos) {
        const std::optional<long long> ms = fractionMs(text.substr(point + 1));
        if (!ms) {
            return std::nullopt;
        }
        fraction = *ms;
    }
    if (whole.find(':') == std::string::npos) {
        if (!allDigits(whole, 9)) {
            return std::nullopt;
        }
        return std::stoll(whole) * 1000 + fraction;
    }
    const std::string::size_type first = whole.find(':');
    const std::string::size_type second = whole.find(':', first + 1);
    if (second == std::string::npos || whole.find(':', second + 1) != std::string::npos) {
        return std::nullopt;
    }
    const std::string hours = whole.substr(0, first);
    const std::string minutes = whole.substr(first + 1, second - first - 1);
    const std::string seconds = whole.substr(second + 1);
    if (!allDigits(hours, 6) || minutes.size() != 2 || !allDigits(minutes, 2) ||
        seconds.size() != 2 || !allDigits(seconds, 2) || std::stoi(minutes) > 59 ||
        std::stoi(seconds) > 59) {
        return std::nullopt;
    }
    return ((std::stoll(hours) * 60 + std::stoll(minutes)) * 60 + std::stoll(seconds)) * 1000 +
           fraction;
}

MomentsFile parseMoments(const std::string& text) {
    MomentsFile file;
    // A byte-order mark, as editors on some systems start a UTF-8 file with, is no part of the
    // first line.
    const std::string kByteOrderMark = "\xEF\xBB\xBF";
    std::istringstream lines(text.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0
                                 ? text.substr(kByteOrderMark.size())
                                 : text);
    std::string line;
    for (long long number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        line = trimmed(line.substr(0, line.find('#')));
        if (line.empty()) {
            continue;
        }
        const std::string::size_type comma = line.find(',');
        if (comma == std::string::npos || line.find(',', comma + 1) != std::string::npos) {
            file.error = formatText(
                "line %lld: '%s' is no moment: give its start and end, "
                "start,end",
                number, line.c_str());
            return file;
        }
        const std::string start = trimmed(line.substr(0, comma));
        const std::string end = trimmed(line.substr(comma + 1));
        const std::optional<long long> startMs = momentTimeMs(start);
        const std::optional<long long> endMs = momentTimeMs(end);
        if (!startMs || !endMs) {
            file.error = formatText(
                "line %lld: '%s' is no time: give seconds (12.5) or HH:MM:SS.mmm (00:00:12.500)",
                number, (!startMs ? start : end).c_str());
            return file;
        }
        if (*endMs < *startMs) {
            file.error = formatText("line %lld: the moment ends at %s, before it starts at %s",
                                    number, timecode(*endMs).c_str(), timecode(*startMs).c_str());
            return file;
        }
        file.moments.push_back({*startMs, *endMs});
    }
    return file;
}

MomentsFile readMomentsFile(const std::string& path) {
    MomentsFile file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        file.error = systemError(errno);
        return file;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            file.error = systemError(errno);
            ::close(fd);
            return file;
        }
        if (got == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(got));
        // Far more than anyone marks by hand: a file this long is no list of moments.
        if (content.size() > kLongestMomentsFile) {
            ::close(fd);
            file.error = "it is longer than any list of moments";
            return file;
        }
    }
    ::close(fd);
    // No moments file holds a NUL byte; a binary file taken for one would be read as nonsense.
    if (content.find('\0') != std::string::npos) {
        file.error = "it holds a NUL byte: not a text file of moments";
        return file;
    }
    file = parseMoments(content);
    if (file.error.empty() && file.moments.empty()) {
        file.error = "it holds no moment";
    }
    return file;
}

std::string momentsFileText(const std::vector<KnownMoment>& moments) {
    std::string text = "# Moments known to hold motion: start,end\n";
    for (const KnownMoment& moment : moments) {
        text += timecode(moment.startMs) + "," + timecode(moment.endMs) + "\n";
    }
    return text;
}

}  // namespace pelmora
