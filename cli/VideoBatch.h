#pragma once

#include <optional>
#include <string>
#include <vector>

// Which videos one pelmora-scan process works through, and where each one's snapshots go.

struct Shard {
    int index = 0;  // K of K/N
    int count = 1;  // N
};

// "K/N" with 0 <= K < N; nothing for anything else.
std::optional<Shard> parseShard(const std::string& text);

struct VideoList {
    std::vector<std::string> paths;
    std::string error;  // why the list was refused, or nothing
};

// The paths of a list read from fd to its end, one a line; blank lines and lines starting with
// '#' are skipped, and a line ending of a file from another system is not part of the path. A
// list is refused as soon as it shows it is none: a line longer than PATH_MAX bytes or holding
// a NUL byte, which no path does (a binary file, /dev/zero), or a read the system refuses (a
// folder). Memory stays bounded by the paths kept.
VideoList readVideoList(int fd);

// Whether a file's name ends in one of the common video extensions, in any case.
bool hasVideoExtension(const std::string& path);

// The paths with every folder among them replaced by the video files below it, searched
// recursively and in sorted order. Anything else, a missing path included, stays as given, to
// be reported when it does not open. Folders without a video are added to emptyFolders; a
// folder that cannot be read, given or below one given, is added to unreadable as "PATH:
// REASON", and the rest is still searched.
std::vector<std::string> expandFolders(const std::vector<std::string>& paths,
                                       std::vector<std::string>& emptyFolders,
                                       std::vector<std::string>& unreadable);

struct BatchEntry {
    std::string video;
    std::string outputDir;  // its snapshot folder; empty for the current one
};

// The videos to run, in order, with their snapshot folders, one of its own for each video.
// Without an output folder each is derived from the video's path (see VideoJob); with one and
// several videos, each gets a folder inside it named after the video's file, below it as the
// video's folder stands below the deepest folder that holds every video there is
// (cam1/x.mp4 and cam2/x.mp4 into DIR/cam1/x and DIR/cam2/x). A video an earlier batch put
// straight into the output folder, as batches did before, is found there again. A video whose
// folder is another's before it in the sorted order of all the videos ("x.avi" and "x.mp4",
// "a/x.avi" and "b/x.avi") takes that name with "-2", "-3", ... added, the first that is no
// other video's, so that a video's folder does not depend on the order it was given in nor on
// the shard it falls to.
// Without a shard the videos run as given; with one, the sorted list without repeats is dealt
// out: position i goes to shard i mod N, so N processes split any list without talking.
std::vector<BatchEntry> planBatch(const std::vector<std::string>& videos,
                                  const std::string& outputDir, std::optional<Shard> shard);
