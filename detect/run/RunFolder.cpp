#include "RunFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <optional>

#include "FileOutput.h"
#include "FolderNames.h"

namespace pelmora {

namespace {

enum class Kind { Other, Snapshot, Clip, RunFile, Temporary };

Kind kindOf(const std::string& name) {
    if (isSnapshotFileName(name)) {
        return Kind::Snapshot;
    }
    if (isClipFileName(name)) {
        return Kind::Clip;
    }
    if (isRunFileName(name)) {
        return Kind::RunFile;
    }
    const std::optional<std::string> target = temporaryTarget(name);
    if (target &&
        (isSnapshotFileName(*target) || isClipFileName(*target) || isRunFileName(*target))) {
        return Kind::Temporary;
    }
    return Kind::Other;
}

std::string folderOf(const std::string& dir) {
    return dir.empty() ? std::string(".") : dir;
}

// Calls each for every file of the folder that a run may have left, with its kind; returns why
// the folder could not be read, or nothing.
std::string forEachLeftover(
    const std::string& dir,
    const std::function<void(const std::string&, Kind, const struct stat&)>& each) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folderOf(dir).c_str()), ::closedir);
    if (!folder) {
        return systemError(errno);
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder.get());
        if (entry == nullptr) {
            return errno == 0 ? std::string() : systemError(errno);
        }
        const std::string name = entry->d_name;
        const Kind kind = kindOf(name);
        if (kind == Kind::Other) {
            continue;
        }
        // A folder of such a name was made by someone else, for something else.
        struct stat info {};
        const std::string path = joinPath(dir, name);
        if (::lstat(path.c_str(), &info) == 0 && (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))) {
            each(name, kind, info);
        }
    }
}

}  // namespace

EarlierRun findEarlierRun(const std::string& dir) {
    EarlierRun earlier;
    earlier.error = forEachLeftover(
        dir, [&earlier](const std::string& name, Kind kind, const struct stat& info) {
            if (kind == Kind::Snapshot) {
                earlier.snapshots.push_back({name, static_cast<unsigned long long>(info.st_ino)});
            } else if (kind == Kind::Clip) {
                ++earlier.clips;
            } else if (name == kRunRecordName && S_ISREG(info.st_mode)) {
                ++earlier.runFiles;
                earlier.finished = true;
            } else {
                ++(kind == Kind::RunFile ? earlier.runFiles : earlier.temporaries);
            }
        });
    return earlier;
}

long long snapshotsStillThere(const std::string& dir, const EarlierRun& earlier) {
    long long count = 0;
    for (const FoundSnapshot& snapshot : earlier.snapshots) {
        struct stat info {};
        if (::lstat(joinPath(dir, snapshot.name).c_str(), &info) == 0 &&
            static_cast<unsigned long long>(info.st_ino) == snapshot.file) {
            ++count;
        }
    }
    return count;
}

EarlierRunRemoval removeEarlierRun(const std::string& dir, bool snapshots) {
    EarlierRunRemoval removal;
    // Names are gathered first: a folder changed while it is read may skip or repeat names.
    std::vector<std::string> doomed;
    removal.error =
        forEachLeftover(dir, [&](const std::string& name, Kind kind, const struct stat&) {
            if ((kind != Kind::Snapshot && kind != Kind::Clip) || snapshots) {
                doomed.push_back(joinPath(dir, name));
            }
        });
    for (const std::string& path : doomed) {
        if (::unlink(path.c_str()) == 0) {
            ++removal.removed;
        } else if (errno != ENOENT) {
            removal.failures.push_back(path + ": " + systemError(errno));
        }
    }
    return removal;
}

FolderLock::~FolderLock() {
    release();
}

std::string FolderLock::acquire(const std::string& dir) {
    release();
    const std::string name = joinPath(dir, kFolderLockName);
    // A holder takes the file away before it lets go, so a file locked after that is no longer
    // the one in the folder, and the lock is taken again on the file that is.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int file = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (file < 0) {
            return systemError(errno);
        }
        if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(file);
            return error == EWOULDBLOCK ? "another run is writing into it" : systemError(error);
        }
        struct stat locked {};
        struct stat named {};
        if (::fstat(file, &locked) == 0 && ::stat(name.c_str(), &named) == 0 &&
            locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
            fd = file;
            path = name;
            return std::string();
        }
        ::close(file);
    }
    return "another run is writing into it";
}

void FolderLock::release() {
    if (fd >= 0) {
        ::unlink(path.c_str());
        ::close(fd);
        fd = -1;
    }
}

std::string readyFolder(const std::string& dir, EarlierSnapshots snapshots, FolderLock& lock,
                        EarlierRun& earlier, RunLog& log) {
    // Two runs into one folder would mix their snapshots, lists and records, and each would
    // clear what the other wrote.
    const std::string busy = lock.acquire(dir);
    if (!busy.empty()) {
        return busy;
    }
    earlier = findEarlierRun(dir);
    if (!earlier.error.empty()) {
        return earlier.error;
    }
    const bool withSnapshots =
        snapshots == EarlierSnapshots::Remove ||
        (snapshots == EarlierSnapshots::RemoveUnfinished && !earlier.finished);
    const EarlierRunRemoval removal = removeEarlierRun(dir, withSnapshots);
    for (const std::string& failure : removal.failures) {
        log.tell({MessageKind::NotRemoved, dir, failure});
    }
    if (!removal.error.empty() || !removal.failures.empty()) {
        return "the files of an earlier run cannot all be removed";
    }
    if (withSnapshots) {
        earlier.snapshots.clear();
    }
    return std::string();
}

long long tellEarlierSnapshots(const std::string& dir, const EarlierRun& earlier, RunLog& log) {
    const long long count = snapshotsStillThere(dir, earlier);
    const std::string shown = dir.empty() ? std::string(".") : dir;
    if (count > 0) {
        log.tell({MessageKind::EarlierSnapshots, shown, {}, {}, count});
    }
    return count;
}

}  // namespace pelmora
