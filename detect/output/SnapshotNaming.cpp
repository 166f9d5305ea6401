#include "SnapshotNaming.h"

#include <algorithm>

#include "FileOutput.h"
#include "TextFormat.h"

namespace pelmora {

namespace {

// One definition of the name, for the names made and the names recognised.
constexpr char kPrefix[] = "IMG";
constexpr char kExtension[] = ".jpg";
constexpr int kDigits = 8;

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string statusLine(double seconds, int changedPixels, int threshold) {
    return formatText("%09.3f %5d %3d", seconds, changedPixels, threshold);
}

int snapshotDigits(long long longestMs) {
    int digits = 1;
    for (long long rest = longestMs; rest >= 10; rest /= 10) {
        ++digits;
    }
    return std::max(digits, kDigits);
}

std::string snapshotFileName(long long milliseconds, int digits) {
    return formatText("%s%0*lld%s", kPrefix, digits, milliseconds, kExtension);
}

std::string SnapshotNamer::next(long long milliseconds) {
    uses = milliseconds == lastMilliseconds ? uses + 1 : 1;
    lastMilliseconds = milliseconds;
    if (uses == 1) {
        return snapshotFileName(milliseconds, digits);
    }
    return formatText("%s%0*lld-%d%s", kPrefix, digits, milliseconds, uses, kExtension);
}

bool isSnapshotFileName(const std::string& name) {
    const std::string::size_type head = sizeof kPrefix - 1;
    const std::string::size_type tail = sizeof kExtension - 1;
    if (name.size() < head + tail || name.compare(0, head, kPrefix) != 0 ||
        name.compare(name.size() - tail, tail, kExtension) != 0) {
        return false;
    }
    const std::string stem = name.substr(head, name.size() - head - tail);
    const std::string::size_type dash = stem.find('-');
    const std::string time = stem.substr(0, dash);
    // A long video's run pads its names to more than eight digits.
    if (!allDigits(time) || time.size() < static_cast<std::string::size_type>(kDigits)) {
        return false;
    }
    if (dash == std::string::npos) {
        return true;
    }
    // The namer counts repeats from 2, in plain digits.
    const std::string repeat = stem.substr(dash + 1);
    return allDigits(repeat) && repeat[0] != '0' && repeat != "1";
}

bool isSnapshotTemporaryName(const std::string& name) {
    const std::optional<std::string> target = temporaryTarget(name);
    return target && isSnapshotFileName(*target);
}

std::string joinPath(const std::string& directory, const std::string& fileName) {
    if (directory.empty()) {
        return fileName;
    }
    return directory + '/' + fileName;
}

bool isAcceptedVideoPath(const std::string& videoPath) {
    if (videoPath.size() < 3) {
        return false;
    }
    // ASCII only: a locale's case rules must not turn some other byte into one of the three.
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const std::string::size_type end = videoPath.size();
    return lower(videoPath[end - 3]) == 'a' && lower(videoPath[end - 2]) == 'v' &&
           lower(videoPath[end - 1]) == 'i';
}

}  // namespace pelmora
