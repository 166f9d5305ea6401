#pragma once

#include <string>

namespace pelmora {

// The line drawn on every frame and mask: time in seconds, changed pixels, threshold.
std::string statusLine(double seconds, int changedPixels, int threshold);

// The digits of the names of one run: eight, or as many as the longest time of the video
// needs (nine from 100,000,000 ms, 27.8 hours, on), so that every name of a run has as many
// digits and they sort in the order of their times.
int snapshotDigits(long long longestMs);

// "IMG" and the time in whole milliseconds, zero-padded to digits. Plain digits at every
// length keep names distinct past 1,000,000 ms.
std::string snapshotFileName(long long milliseconds, int digits = 8);

// Whether name is one that snapshotFileName or SnapshotNamer gives: "IMG", at least eight
// digits, an optional "-2", "-3", ... and ".jpg".
bool isSnapshotFileName(const std::string& name);

// Whether name is the temporary file (see temporaryPath) of a snapshot still being written,
// or left by a process that died writing it.
bool isSnapshotTemporaryName(const std::string& name);

// Names the snapshots of one run. Above 1,000 frames per second two frames can fall in the
// same millisecond; the later ones get "-2", "-3", ... before ".jpg", so that nothing is
// overwritten within a run. Frame times never go back within a run, so a name can only repeat
// the one before it.
class SnapshotNamer {
public:
    explicit SnapshotNamer(int digits = 8) : digits(digits) {}

    std::string next(long long milliseconds);

private:
    int digits;
    long long lastMilliseconds = -1;
    int uses = 0;
};

// Directory and file name joined by exactly one '/'. An empty directory means the current
// one: joining would otherwise point at the filesystem root.
std::string joinPath(const std::string& directory, const std::string& fileName);

// The window takes only paths whose last three characters are "avi" in any case (no dot
// needed), as the video chooser lists them.
bool isAcceptedVideoPath(const std::string& videoPath);

}  // namespace pelmora
