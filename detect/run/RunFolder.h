#pragma once

#include <string>
#include <vector>

#include "FolderNames.h"
#include "RunLog.h"

namespace pelmora {

// A snapshot file as it was found: a new one written under its name is another file.
struct FoundSnapshot {
    std::string name;
    unsigned long long file = 0;  // its inode
};

// What an earlier run left in a snapshot folder. Only files count: a folder that happens to
// bear such a name is nobody's run.
struct EarlierRun {
    std::vector<FoundSnapshot> snapshots;  // complete snapshots, IMG….jpg, in no order
    long long clips = 0;                   // complete clips, EVENT….mkv and the like
    long long runFiles = 0;                // its lists, report and record
    long long temporaries = 0;             // hidden files of writes that never finished
    // Its record is there: the run read its video to the end with nothing lost, and its
    // snapshots are a finished run's, not those of one that was cut short.
    bool finished = false;
    std::string error;  // why the folder could not be read, or nothing
};

EarlierRun findEarlierRun(const std::string& dir);

// How many of the snapshots found are still in dir as they were found: those a later run
// wrote again under the same names are that run's.
long long snapshotsStillThere(const std::string& dir, const EarlierRun& earlier);

struct EarlierRunRemoval {
    long long removed = 0;
    std::vector<std::string> failures;  // "PATH: REASON" for each file that stayed
    std::string error;                  // why the folder could not be read, or nothing
};

// Readies a folder for a new run, so that its lists, report and record are of that run alone:
// removes what an earlier run left there, its lists, report, record and temporary files, and
// with snapshots its snapshots and clips too. Nothing else is touched.
EarlierRunRemoval removeEarlierRun(const std::string& dir, bool snapshots);

// Holds a snapshot folder for one run at a time: an advisory lock (flock) on a file inside it,
// which every process that asks for the folder honours, taken at once or not at all. The
// system lets go of it when the process ends, however it ends; a hold that ends normally also
// takes the file away again.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the folder, which must exist; returns why it cannot ("another run is writing into
    // it", or the system's reason), or nothing.
    std::string acquire(const std::string& dir);
    void release();
    bool held() const { return fd >= 0; }

private:
    int fd = -1;
    std::string path;
};

// What becomes of the snapshots and clips an earlier run left in a folder.
enum class EarlierSnapshots {
    Keep,
    Remove,
    // Removed when that run was cut short (no record of it is there), so that a run resumed
    // leaves the files of an uninterrupted one; a finished run's are kept.
    RemoveUnfinished,
};

// Holds dir for the coming run and clears what an earlier run left in it, its snapshots and
// clips too as snapshots says, so that the lists, report and record there are of the coming
// run alone; earlier is what it found, less what it removed. Each file that stays is a
// failure line in log. Returns why the folder cannot be used, or nothing.
std::string readyFolder(const std::string& dir, EarlierSnapshots snapshots, FolderLock& lock,
                        EarlierRun& earlier, RunLog& log);
inline std::string readyFolder(const std::string& dir, bool withSnapshots, FolderLock& lock,
                               EarlierRun& earlier, RunLog& log) {
    return readyFolder(dir, withSnapshots ? EarlierSnapshots::Remove : EarlierSnapshots::Keep, lock,
                       earlier, log);
}

// Says in log how many snapshots of an earlier run stay beside those of the run just done,
// which wrote again the names it took itself, and returns that count.
long long tellEarlierSnapshots(const std::string& dir, const EarlierRun& earlier, RunLog& log);

}  // namespace pelmora
