#include "SnapshotNaming.h"

#include "TextFormat.h"

namespace pelmora {

std::string statusLine(double seconds, int changedPixels, int threshold) {
    return formatText("%09.3f %5d %3d", seconds, changedPixels, threshold);
}

std::string snapshotFileName(long long milliseconds) {
    return formatText("IMG%08lld.jpg", milliseconds);
}

std::string SnapshotNamer::next(long long milliseconds) {
    uses = milliseconds == lastMilliseconds ? uses + 1 : 1;
    lastMilliseconds = milliseconds;
    if (uses == 1) {
        return snapshotFileName(milliseconds);
    }
    return formatText("IMG%08lld-%d.jpg", milliseconds, uses);
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
