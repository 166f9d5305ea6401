#include "SnapshotNaming.h"

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

std::string snapshotFileName(long long milliseconds) {
    return formatText("%s%0*lld%s", kPrefix, kDigits, milliseconds, kExtension);
}

std::string SnapshotNamer::next(long long milliseconds) {
    uses = milliseconds == lastMilliseconds ? uses + 1 : 1;
    lastMilliseconds = milliseconds;
    if (uses == 1) {
        return snapshotFileName(milliseconds);
    }
    return formatText("%s%0*lld-%d%s", kPrefix, kDigits, milliseconds, uses, kExtension);
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
    // Zero-padding only ever fills up to the eight digits.
    const auto digits = static_cast<std::string::size_type>(kDigits);
    if (!allDigits(time) || time.size() < digits || (time.size() > digits && time[0] == '0')) {
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
