#include "VideoBatch.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "FileOutput.h"
#include "FolderNames.h"
#include "RunRecord.h"
#include "VideoJob.h"

namespace fs = std::filesystem;

namespace {

// Two spellings of one path ("clips/./a.avi", "clips/a.avi") are one video.
std::string pathKey(const std::string& path) {
    return fs::path(path).lexically_normal().string();
}

// Two spellings of one folder ("clips/./a", "clips/a/", a relative and an absolute path) are one
// folder; the empty one is the current folder.
std::string folderKey(const std::string& folder) {
    std::error_code error;
    fs::path absolute = fs::absolute(folder.empty() ? std::string(".") : folder, error);
    std::string key = absolute.lexically_normal().string();
    while (key.size() > 1 && key.back() == '/') {
        key.pop_back();
    }
    return key;
}

}  // namespace

std::optional<Shard> parseShard(const std::string& text) {
    const std::string::size_type slash = text.find('/');
    const auto whole = [](const std::string& part) {
        return !part.empty() && part.size() <= 9 &&
               part.find_first_not_of("0123456789") == std::string::npos;
    };
    if (slash == std::string::npos || !whole(text.substr(0, slash)) ||
        !whole(text.substr(slash + 1))) {
        return std::nullopt;
    }
    Shard shard{std::stoi(text.substr(0, slash)), std::stoi(text.substr(slash + 1))};
    if (shard.index >= shard.count) {
        return std::nullopt;
    }
    return shard;
}

VideoList readVideoList(int fd) {
    VideoList list;
    std::string line;
    long long lineNumber = 1;
    const auto endLine = [&] {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const bool blank = line.find_first_not_of(" \t") == std::string::npos;
        if (!blank && line[0] != '#') {
            list.paths.push_back(line);
        }
        line.clear();
        ++lineNumber;
    };
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            list.error = pelmora::systemError(errno);
            return list;
        }
        if (got == 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                endLine();
                continue;
            }
            if (c == '\0') {
                list.error = "line " + std::to_string(lineNumber) +
                             " holds a NUL byte, which no path does: not a list of paths";
                return list;
            }
            line += c;
            // One more byte than a path may have, for the '\r' of a line end.
            if (line.size() > PATH_MAX + 1 || (line.size() == PATH_MAX + 1 && c != '\r')) {
                list.error = "line " + std::to_string(lineNumber) + " is longer than " +
                             std::to_string(PATH_MAX) +
                             " bytes, which no path is: not a list of paths";
                return list;
            }
        }
    }
    if (!line.empty()) {
        endLine();
    }
    return list;
}

bool hasVideoExtension(const std::string& path) {
    static const char* const kExtensions[] = {".avi", ".mp4",  ".m4v", ".mkv", ".mov",
                                              ".mpg", ".mpeg", ".ts",  ".wmv", ".webm"};
    std::string extension = fs::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(kExtensions), std::end(kExtensions), extension) !=
           std::end(kExtensions);
}

namespace {

// Whether dir is a folder a run or an overview of ours writes into: its clips and digests are
// what a scan made, not videos to scan, as a folder scanned twice without -o would otherwise
// find its own output inside it.
bool isOurFolder(const fs::path& dir) {
    std::error_code ignored;
    for (const char* name : {pelmora::kRunRecordName, pelmora::kFolderLockName,
                             pelmora::kSegmentRecordName, pelmora::kOverviewName}) {
        if (fs::exists(dir / name, ignored)) {
            return true;
        }
    }
    return false;
}

bool isOurVideo(const std::string& name) {
    return pelmora::isClipFileName(name) || name == pelmora::kDigestName ||
           name == pelmora::kDayDigestName;
}

// The video files below dir, in no order; a folder that cannot be read, dir itself or one
// below it, is added to unreadable with the reason, and the others are still searched.
void findVideos(const fs::path& dir, std::vector<std::string>& found,
                std::vector<std::string>& unreadable) {
    std::error_code error;
    std::vector<fs::path> folders;
    const bool ours = isOurFolder(dir);
    fs::directory_iterator it(dir, error);
    for (const fs::directory_iterator end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        // A link to a folder is not followed, so that no loop of links is searched forever;
        // a link to a video is taken.
        if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
            folders.push_back(it->path());
        } else if (it->is_regular_file(ignored) && hasVideoExtension(it->path().string()) &&
                   !(ours && isOurVideo(it->path().filename().string()))) {
            found.push_back(it->path().string());
        }
    }
    if (error) {
        unreadable.push_back(dir.string() + ": " + error.message());
    }
    for (const fs::path& folder : folders) {
        findVideos(folder, found, unreadable);
    }
}

}  // namespace

std::vector<std::string> expandFolders(const std::vector<std::string>& paths,
                                       std::vector<std::string>& emptyFolders,
                                       std::vector<std::string>& unreadable) {
    std::vector<std::string> videos;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            videos.push_back(path);
            continue;
        }
        std::vector<std::string> found;
        const std::size_t failures = unreadable.size();
        findVideos(path, found, unreadable);
        std::sort(found.begin(), found.end());
        std::sort(unreadable.begin() + static_cast<std::ptrdiff_t>(failures), unreadable.end());
        if (found.empty() && unreadable.size() == failures) {
            emptyFolders.push_back(path);
        }
        videos.insert(videos.end(), found.begin(), found.end());
    }
    return videos;
}

namespace {

// The deepest folder that holds each of the folders.
fs::path commonFolder(const std::vector<fs::path>& folders) {
    fs::path common = folders.front();
    for (const fs::path& folder : folders) {
        fs::path shared;
        auto a = common.begin();
        auto b = folder.begin();
        for (; a != common.end() && b != folder.end() && *a == *b; ++a, ++b) {
            shared /= *a;
        }
        common = shared;
    }
    return common;
}

// Each video's snapshot folder, by its key. byFolders: with an output folder and several
// videos, each goes below it where it stands below the folder that holds them all
// (cam1/08-00.mp4 and cam2/08-00.mp4 into DIR/cam1/08-00 and DIR/cam2/08-00); else, as batches
// before did it, straight into it, named after its file alone.
std::map<std::string, std::string> folderPlan(const std::map<std::string, std::string>& byKey,
                                              const std::string& outputDir, bool byFolders) {
    fs::path common;
    if (byFolders && byKey.size() > 1) {
        // Of the videos that are there: a path mistyped, which only fails, moves no other
        // video's folder.
        std::vector<fs::path> folders;
        std::vector<fs::path> missing;
        for (const auto& [key, video] : byKey) {
            std::error_code error;
            const fs::path folder = fs::absolute(video, error).lexically_normal().parent_path();
            (fs::exists(video, error) ? folders : missing).push_back(folder);
        }
        common = commonFolder(folders.empty() ? missing : folders);
    }
    // Each video's folder as it would be alone: beside it, or after its file in the one given.
    std::map<std::string, std::string> wanted;
    for (const auto& [key, video] : byKey) {
        if (outputDir.empty()) {
            wanted[key] = pelmora::VideoJob::derivedDirectory(video);
        } else if (byKey.size() == 1) {
            wanted[key] = outputDir;
        } else {
            std::string name = fs::path(video).stem().string();
            if (name.empty() || name[0] == '.') {  // no hidden folders
                name = "video";
            }
            fs::path below = name;
            if (byFolders) {
                std::error_code error;
                const fs::path folder = fs::absolute(video, error).lexically_normal().parent_path();
                const fs::path relative = folder.lexically_relative(common);
                if (!relative.empty() && relative != ".") {
                    below = relative / name;
                }
            }
            wanted[key] = pelmora::joinPath(outputDir, below.string());
        }
    }
    // Every video gets the folder it wants unless one before it in that order does, which then
    // takes "-2", "-3", ... of that name: never a folder that is another video's.
    std::set<std::string> taken;
    std::map<std::string, std::string> folderOf;
    std::vector<std::string> refused;
    for (const auto& [key, folder] : wanted) {
        if (taken.insert(folderKey(folder)).second) {
            folderOf[key] = folder;
        } else {
            refused.push_back(key);
        }
    }
    for (const std::string& key : refused) {
        for (int use = 2;; ++use) {
            const std::string folder = wanted[key] + "-" + std::to_string(use);
            if (taken.insert(folderKey(folder)).second) {
                folderOf[key] = folder;
                break;
            }
        }
    }
    return folderOf;
}

}  // namespace

std::vector<BatchEntry> planBatch(const std::vector<std::string>& videos,
                                  const std::string& outputDir, std::optional<Shard> shard) {
    // The sorted list without repeats: the order folders are named in and shards dealt from.
    std::map<std::string, std::string> byKey;
    for (const std::string& video : videos) {
        byKey.emplace(pathKey(video), video);
    }
    std::map<std::string, std::string> folderOf = folderPlan(byKey, outputDir, true);
    // A video an earlier batch put straight into the output folder is found there again, so
    // that --resume skips it and no folder holds a second run of it.
    if (!outputDir.empty() && byKey.size() > 1) {
        const std::map<std::string, std::string> before = folderPlan(byKey, outputDir, false);
        std::set<std::string> planned;
        for (const auto& [key, folder] : folderOf) {
            planned.insert(folderKey(folder));
        }
        for (auto& [key, folder] : folderOf) {
            const std::string& earlier = before.at(key);
            if (earlier != folder && planned.count(folderKey(earlier)) == 0 &&
                !RunRecord::recordedVideo(folder) &&
                RunRecord::recordedVideo(earlier) == byKey.at(key)) {
                folder = earlier;
            }
        }
    }
    std::vector<BatchEntry> entries;
    if (shard) {
        int position = 0;
        for (const auto& [key, video] : byKey) {
            if (position++ % shard->count == shard->index) {
                entries.push_back({video, folderOf[key]});
            }
        }
        return entries;
    }
    for (const std::string& video : videos) {
        entries.push_back({video, folderOf[pathKey(video)]});
    }
    return entries;
}
