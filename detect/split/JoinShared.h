#pragma once

// What the join's parts share: the checks of a set of stretches, and the staging folder the
// join makes its files in before they go into the snapshot folder together.

#include <string>
#include <utility>
#include <vector>

#include "RunRequest.h"
#include "SegmentRecord.h"

namespace pelmora::joinshared {

// "K/N", as the stretch is named to people.
std::string nameOf(const SegmentRecord& record);

// Why the record is not of this video with these options, or nothing.
std::string identityMismatch(const SegmentRecord& record,
                             const std::vector<std::pair<std::string, std::string>>& wanted);

// Why the stretches do not follow one another frame for frame from the first frame to the
// end, or nothing.
std::string tilingGap(const std::vector<SegmentRecord>& records);

// A stretch's folder by name, with the checksum of the record it held when it was joined.
struct JoinedStretch {
    std::string name;
    std::string record;
};

// What the ready file says: the files to move, in order, and the stretches' folders to remove
// once they are in place.
struct ReadyList {
    std::vector<std::string> files;
    std::vector<JoinedStretch> stretches;
};

// Whether path is a folder of its own, not a link to one.
bool isFolder(const std::string& path);

// Whether anything is at path, a dangling link too.
bool exists(const std::string& path);

// Removes path and everything below it; "PATH: REASON" when it stays, else nothing.
std::string removeAll(const std::string& path);

// The files made in the staging folder, in the order they go into the snapshot folder: the
// snapshots and clips, then the lists and the report, and the record last, which says that
// the folder is complete.
std::vector<std::string> stagedFiles(const std::string& staging, std::string& error);

// A name of a file in the folder itself, not a path elsewhere.
bool isPlainName(const std::string& name);

// The ready list in the staging folder, written whole, and read back; why not, or nothing.
std::string writeReadyList(const std::string& staging, const ReadyList& list);
std::string readReadyList(const std::string& staging, ReadyList& list);

// Moves the files from the staging folder into the snapshot folder in order, telling host (when
// given) how far it got, since a long video's snapshots are many; those no longer in the
// staging folder went before. Returns why one cannot go, or nothing; moved, when given, gets
// each file moved.
std::string moveIn(const std::string& folder, const std::vector<std::string>& files, RunHost* host,
                   std::vector<std::string>* moved);

// The checksum of the record in a stretch's folder; empty when it cannot be read.
std::string recordDigest(const std::string& stretch);

// Once the files are in place: the stretches' folders, then the staging folder and the ready
// list in it, which go last so that a join stopped before is finished; what stayed. A folder
// that holds another record than the one joined, scanned there since, is another stretch's.
std::vector<std::string> clearAfterJoin(const std::string& folder,
                                        const std::vector<JoinedStretch>& stretches);

}  // namespace pelmora::joinshared
