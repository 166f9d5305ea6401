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

namespace joinshared {

std::string nameOf(const SegmentRecord& record) {
    return formatText("%d/%d", record.index, record.count);
}

// Why the record is not of this video with these options, or nothing.
std::string identityMismatch(const SegmentRecord& record,
                             const std::vector<std::pair<std::string, std::string>>& wanted) {
    std::map<std::string, std::string> said(record.identity.begin(), record.identity.end());
    for (const auto& [name, value] : wanted) {
        const auto found = said.find(name);
        if (found == said.end()) {
            return "says nothing of " + name;
        }
        if (found->second != value) {
            return "was scanned with " + name + " " + found->second + ", not " + value;
        }
        said.erase(found);
    }
    if (!said.empty()) {
        return "was scanned with " + said.begin()->first + " " + said.begin()->second +
               ", which this scan does not know";
    }
    return std::string();
}

// Why the stretches do not follow one another frame for frame from the first frame to the
// end, or nothing.
std::string tilingGap(const std::vector<SegmentRecord>& records) {
    const double fps = records.front().facts.fps;
    const double frameMs = 1000.0 / fps;
    for (std::size_t k = 0; k < records.size(); ++k) {
        const SegmentRecord& record = records[k];
        if (record.facts.fps != fps || record.facts.frameSize != records.front().facts.frameSize) {
            return "stretch " + nameOf(record) + " found another rate or frame size";
        }
        if (record.framesRead != record.lastFrame - record.firstFrame + 1 ||
            record.framesRead <= 0) {
            return "stretch " + nameOf(record) + " did not read its frames one by one";
        }
        if (record.toEnd != (k + 1 == records.size())) {
            return "stretch " + nameOf(record) +
                   (record.toEnd ? " read to the end of the video" : " ends before the video");
        }
        if (k == 0) {
            if (record.firstFrame != 0) {
                return formatText("the first stretch starts at frame %lld", record.firstFrame);
            }
            continue;
        }
        const SegmentRecord& before = records[k - 1];
        if (record.firstFrame != before.lastFrame + 1) {
            return formatText("stretch %s starts at frame %lld, not at %lld after the one before",
                              nameOf(record).c_str(), record.firstFrame, before.lastFrame + 1);
        }
        if (std::fabs(record.firstMs - before.lastMs - frameMs) > frameMs / 4.0) {
            return formatText(
                "stretch %s starts at %.3f ms, not one frame after the one before ends (%.3f ms)",
                nameOf(record).c_str(), record.firstMs, before.lastMs);
        }
    }
    return std::string();
}

}  // namespace joinshared

using namespace joinshared;

SegmentSet readSegments(const std::string& folder) {
    SegmentSet set;
    set.folder = folder;
    std::map<int, std::string> byIndex;
    std::set<int> counts;
    std::error_code error;
    fs::directory_iterator it(folder.empty() ? std::string(".") : folder, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        int index = 0;
        int count = 0;
        std::error_code ignored;
        if (parseSegmentFolderName(it->path().filename().string(), index, count) &&
            it->is_directory(ignored) && !it->is_symlink(ignored)) {
            counts.insert(count);
            byIndex[index] = joinPath(folder, it->path().filename().string());
        }
    }
    if (error) {
        set.error = "cannot read " + folder + ": " + error.message();
        return set;
    }
    if (counts.empty()) {
        set.none = true;
        set.error = "there are no stretches in " + folder;
        return set;
    }
    if (counts.size() > 1) {
        set.error = formatText("%s holds stretches of %d and of %d parts", folder.c_str(),
                               *counts.begin(), *counts.rbegin());
        return set;
    }
    const int count = *counts.begin();
    for (int index = 0; index < count; ++index) {
        const auto found = byIndex.find(index);
        if (found == byIndex.end() || !exists(joinPath(found->second, kSegmentRecordName))) {
            set.error = formatText(
                "stretch %d/%d has not finished: %s", index, count,
                found == byIndex.end()
                    ? "its folder is missing"
                    : ("there is no record " + joinPath(found->second, kSegmentRecordName))
                          .c_str());
            return set;
        }
        SegmentRecord record;
        std::string reason = readSegmentRecord(found->second, record);
        if (reason.empty()) {
            reason = checkSegmentFiles(found->second, record);
        }
        if (!reason.empty()) {
            set.error =
                formatText("stretch %d/%d cannot be joined: %s", index, count, reason.c_str());
            return set;
        }
        if (record.index != index || record.count != count) {
            set.error = found->second + " holds the record of stretch " + nameOf(record);
            return set;
        }
        set.folders.push_back(found->second);
        set.records.push_back(record);
    }
    return set;
}

}  // namespace pelmora
