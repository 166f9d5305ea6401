#include "SegmentJoin.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "FileDigest.h"
#include "FileOutput.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "FrameDetector.h"
#include "RunFolder.h"
#include "TextFormat.h"
#include "VideoRun.h"
#include "VideoSource.h"
#include "VideoStart.h"

namespace fs = std::filesystem;

#include "JoinShared.h"

namespace pelmora {

// The staging folder's ready list (kJoinReadyName) is written once the one run's files are all
// there: what goes where. While it is there, the join has begun to move its files into the
// snapshot folder, and one stopped part-way is finished rather than started again.

namespace joinshared {

// Whether path is a folder of its own, not a link to one.
bool isFolder(const std::string& path) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(path, error));
}

bool exists(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

// Removes path and everything below it; "PATH: REASON" when it stays, else nothing.
std::string removeAll(const std::string& path) {
    std::error_code error;
    fs::remove_all(path, error);
    return error ? path + ": " + error.message() : std::string();
}

// The files made in the staging folder, in the order they go into the snapshot folder: the
// snapshots and clips, then the lists and the report, and the record last, which says that
// the folder is complete.
std::vector<std::string> stagedFiles(const std::string& staging, std::string& error) {
    std::vector<std::string> files;
    std::vector<std::string> runFiles;
    std::error_code failure;
    fs::directory_iterator it(staging, failure);
    for (const fs::directory_iterator end; !failure && it != end; it.increment(failure)) {
        const std::string name = it->path().filename().string();
        std::error_code ignored;
        if (name == kJoinReadyName || !it->is_regular_file(ignored) || it->is_symlink(ignored)) {
            continue;
        }
        (isRunFileName(name) ? runFiles : files).push_back(name);
    }
    if (failure) {
        error = "cannot read " + staging + ": " + failure.message();
        return {};
    }
    std::sort(files.begin(), files.end());
    std::sort(runFiles.begin(), runFiles.end(), [](const std::string& a, const std::string& b) {
        return std::make_pair(a == kRunRecordName, a) < std::make_pair(b == kRunRecordName, b);
    });
    files.insert(files.end(), runFiles.begin(), runFiles.end());
    return files;
}

// A name of a file in the folder itself, not a path elsewhere.
bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string writeReadyList(const std::string& staging, const ReadyList& list) {
    std::string text;
    for (const std::string& name : list.files) {
        text += "file " + name + "\n";
    }
    for (const JoinedStretch& stretch : list.stretches) {
        text += "stretch " + stretch.record + " " + stretch.name + "\n";
    }
    text += "end\n";
    return replaceFile(joinPath(staging, kJoinReadyName), text.data(), text.size());
}

std::string readReadyList(const std::string& staging, ReadyList& list) {
    const std::string path = joinPath(staging, kJoinReadyName);
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 5, "file ") == 0 && isPlainName(line.substr(5))) {
            list.files.push_back(line.substr(5));
        } else if (line.compare(0, 8, "stretch ") == 0) {
            const std::string::size_type gap = line.find(' ', 8);
            JoinedStretch stretch{line.substr(gap + 1), line.substr(8, gap - 8)};
            int index = 0;
            int count = 0;
            if (gap == std::string::npos || !parseSegmentFolderName(stretch.name, index, count)) {
                break;
            }
            list.stretches.push_back(stretch);
        } else if (line == "end") {
            return std::string();
        } else {
            break;
        }
    }
    return path + " is damaged";
}

// Moves the files from the staging folder into the snapshot folder in order, telling host (when
// given) how far it got, since a long video's snapshots are many; those no longer in the
// staging folder went before. Returns why one cannot go, or nothing; moved, when given, gets
// each file moved.
std::string moveIn(const std::string& folder, const std::vector<std::string>& files, RunHost* host,
                   std::vector<std::string>* moved) {
    const std::string staging = joinStagingFolder(folder);
    int shown = -1;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string from = joinPath(staging, files[i]);
        const std::string to = joinPath(folder, files[i]);
        const int error = std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
        if (error == 0) {
            if (moved != nullptr) {
                moved->push_back(files[i]);
            }
        } else if (error != ENOENT || exists(from)) {
            return "cannot move " + from + " to " + to + ": " + systemError(error);
        }
        const int percent =
            progressPercent(static_cast<long long>(i) + 1, static_cast<long long>(files.size()));
        if (host != nullptr && percent != shown) {
            host->progress(shown = percent);
        }
    }
    return std::string();
}

// The checksum of the record in a stretch's folder; empty when it cannot be read.
std::string recordDigest(const std::string& stretch) {
    std::string digest;
    fileDigest(joinPath(stretch, kSegmentRecordName), digest);
    return digest;
}

// Once the files are in place: the stretches' folders, then the staging folder and the ready
// list in it, which go last so that a join stopped before is finished; what stayed. A folder
// that holds another record than the one joined, scanned there since, is another stretch's.
std::vector<std::string> clearAfterJoin(const std::string& folder,
                                        const std::vector<JoinedStretch>& stretches) {
    std::vector<std::string> leftovers;
    for (const JoinedStretch& stretch : stretches) {
        const std::string path = joinPath(folder, stretch.name);
        const std::string record = recordDigest(path);
        if (!record.empty() && record != stretch.record) {
            continue;
        }
        const std::string reason = removeAll(path);
        if (!reason.empty()) {
            leftovers.push_back(reason);
        }
    }
    if (leftovers.empty()) {
        const std::string reason = removeAll(joinStagingFolder(folder));
        if (!reason.empty()) {
            leftovers.push_back(reason);
        }
    }
    return leftovers;
}

}  // namespace joinshared

using namespace joinshared;

std::string joinStagingFolder(const std::string& folder) {
    return joinPath(folder, kJoinStagingName);
}

StagedHost::StagedHost(RunHost& host, const std::string& folder)
    : host(host), staged(joinPath(joinStagingFolder(folder), "")), shown(joinPath(folder, "")) {}

void StagedHost::tell(const RunMessage& message) {
    RunMessage moved = message;
    for (std::string* text : {&moved.path, &moved.reason, &moved.subject}) {
        for (std::string::size_type at = text->find(staged); at != std::string::npos;
             at = text->find(staged, at + shown.size())) {
            text->replace(at, staged.size(), shown);
        }
    }
    host.tell(moved);
}

StoppedJoin finishStoppedJoin(const std::string& folder) {
    StoppedJoin stopped;
    const std::string staging = joinStagingFolder(folder);
    if (!isFolder(staging)) {
        return stopped;
    }
    if (!exists(joinPath(staging, kJoinReadyName))) {
        const std::string reason = removeAll(staging);
        stopped.outcome =
            reason.empty() ? StoppedJoin::Outcome::Discarded : StoppedJoin::Outcome::Failed;
        stopped.message = reason.empty() ? std::string() : "cannot remove " + reason;
        return stopped;
    }
    ReadyList list;
    std::string reason = readReadyList(staging, list);
    if (reason.empty()) {
        reason = moveIn(folder, list.files, nullptr, nullptr);
    }
    if (!reason.empty()) {
        stopped.outcome = StoppedJoin::Outcome::Failed;
        stopped.message = reason;
        return stopped;
    }
    stopped.outcome = StoppedJoin::Outcome::Finished;
    stopped.leftovers = clearAfterJoin(folder, list.stretches);
    return stopped;
}

std::vector<std::string> removeSegments(const SegmentSet& segments) {
    std::vector<std::string> failures;
    for (const std::string& folder : segments.folders) {
        const std::string reason = removeAll(folder);
        if (!reason.empty()) {
            failures.push_back(reason);
        }
    }
    return failures;
}

}  // namespace pelmora
