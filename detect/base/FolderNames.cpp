#include "FolderNames.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "TextFormat.h"

namespace pelmora {

namespace {

// One definition of each name, for the names made and the names recognised.
constexpr char kSnapshotPrefix[] = "IMG";
constexpr char kSnapshotExtension[] = ".jpg";
constexpr int kSnapshotDigits = 8;
constexpr char kClipPrefix[] = "EVENT";
constexpr int kClipDigits = 4;
constexpr char kTemporaryExtension[] = ".part";
constexpr char kSegmentFolderPattern[] = ".pelmora-segment-%d-of-%d";

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::string fileNameOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& directory, const std::string& fileName) {
    if (directory.empty()) {
        return fileName;
    }
    return directory + '/' + fileName;
}

int snapshotDigits(long long longestMs) {
    int digits = 1;
    for (long long rest = longestMs; rest >= 10; rest /= 10) {
        ++digits;
    }
    return std::max(digits, kSnapshotDigits);
}

std::string snapshotFileName(long long milliseconds, int digits) {
    return formatText("%s%0*lld%s", kSnapshotPrefix, digits, milliseconds, kSnapshotExtension);
}

std::string SnapshotNamer::next(long long milliseconds) {
    uses = milliseconds == lastMilliseconds ? uses + 1 : 1;
    lastMilliseconds = milliseconds;
    if (uses == 1) {
        return snapshotFileName(milliseconds, digits);
    }
    return formatText("%s%0*lld-%d%s", kSnapshotPrefix, digits, milliseconds, uses,
                      kSnapshotExtension);
}

bool isSnapshotFileName(const std::string& name) {
    const std::string::size_type head = sizeof kSnapshotPrefix - 1;
    const std::string::size_type tail = sizeof kSnapshotExtension - 1;
    if (name.size() < head + tail || name.compare(0, head, kSnapshotPrefix) != 0 ||
        name.compare(name.size() - tail, tail, kSnapshotExtension) != 0) {
        return false;
    }
    const std::string stem = name.substr(head, name.size() - head - tail);
    const std::string::size_type dash = stem.find('-');
    const std::string time = stem.substr(0, dash);
    // A long video's run pads its names to more than eight digits.
    if (!allDigits(time) || time.size() < static_cast<std::string::size_type>(kSnapshotDigits)) {
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

std::string clipFileName(int event, const std::string& extension) {
    return formatText("%s%0*d%s", kClipPrefix, kClipDigits, event, extension.c_str());
}

bool isClipFileName(const std::string& name) {
    const std::string::size_type head = sizeof kClipPrefix - 1;
    const std::string::size_type dot = name.find('.');
    if (name.compare(0, head, kClipPrefix) != 0 || dot == std::string::npos ||
        dot < head + kClipDigits || dot + 1 == name.size() ||
        name.find_first_not_of("0123456789", head) != dot) {
        return false;
    }
    // The extension is spelt as the video's own name spells it: clip.MP4 gives EVENT0001.MP4.
    return name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789",
                                  dot + 1) == std::string::npos;
}

bool isClipTemporaryName(const std::string& name) {
    const std::optional<std::string> target = temporaryTarget(name);
    return target && isClipFileName(*target);
}

std::string temporaryPath(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + "." +
           std::to_string(::getpid()) + kTemporaryExtension;
}

std::optional<std::string> temporaryTarget(const std::string& fileName) {
    const std::string::size_type tail = sizeof kTemporaryExtension - 1;
    if (fileName.size() < 1 + tail || fileName[0] != '.' ||
        fileName.compare(fileName.size() - tail, tail, kTemporaryExtension) != 0) {
        return std::nullopt;
    }
    const std::string inner = fileName.substr(1, fileName.size() - 1 - tail);
    const std::string::size_type dot = inner.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == inner.size() ||
        inner.find_first_not_of("0123456789", dot + 1) != std::string::npos) {
        return std::nullopt;
    }
    return inner.substr(0, dot);
}

bool isRunFileName(const std::string& name) {
    return name == kSnapshotListName || name == kEventListName || name == kReportName ||
           name == kContactSheetName || name == kDigestName || name == kRunRecordName ||
           name == kEdlExportName || name == kOtioExportName || name == kVttExportName ||
           name == kJsonExportName || name == kSegmentRecordName || name == kSegmentFramesName ||
           name == kSegmentReferenceName || name == kObjectIndexName;
}

std::string segmentFolder(const std::string& folder, int index, int count) {
    return joinPath(folder, formatText(kSegmentFolderPattern, index, count));
}

bool parseSegmentFolderName(const std::string& name, int& index, int& count) {
    char tail = 0;
    const std::string pattern = std::string(kSegmentFolderPattern) + "%c";
    return std::sscanf(name.c_str(), pattern.c_str(), &index, &count, &tail) == 2 && count > 0 &&
           index >= 0 && index < count && name == formatText(kSegmentFolderPattern, index, count);
}

}  // namespace pelmora
