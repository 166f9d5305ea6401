#include "VideoBatch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Two spellings of one path ("clips/./a.avi", "clips/a.avi") are one video.
std::string pathKey(const std::string& path) {
    return fs::path(path).lexically_normal().string();
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

std::vector<std::string> readVideoList(std::istream& in) {
    std::vector<std::string> paths;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const bool blank = line.find_first_not_of(" \t") == std::string::npos;
        if (!blank && line[0] != '#') {
            paths.push_back(line);
        }
    }
    return paths;
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

std::vector<std::string> expandFolders(const std::vector<std::string>& paths,
                                       std::vector<std::string>& emptyFolders) {
    std::vector<std::string> videos;
    for (const std::string& path : paths) {
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            videos.push_back(path);
            continue;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator
                 it(path, fs::directory_options::skip_permission_denied, error),
             end;
             !error && it != end; it.increment(error)) {
            if (it->is_regular_file(error) && hasVideoExtension(it->path().string())) {
                found.push_back(it->path().string());
            }
        }
        std::sort(found.begin(), found.end());
        if (found.empty()) {
            emptyFolders.push_back(path);
        }
        videos.insert(videos.end(), found.begin(), found.end());
    }
    return videos;
}

std::vector<BatchEntry> planBatch(const std::vector<std::string>& videos,
                                  const std::string& outputDir, std::optional<Shard> shard) {
    // The sorted list without repeats: the order folders are named in and shards dealt from.
    std::map<std::string, std::string> byKey;
    for (const std::string& video : videos) {
        byKey.emplace(pathKey(video), video);
    }
    std::map<std::string, std::string> folderOf;
    if (!outputDir.empty()) {
        std::map<std::string, int> uses;
        for (const auto& [key, video] : byKey) {
            if (byKey.size() == 1) {
                folderOf[key] = outputDir;
                continue;
            }
            std::string name = fs::path(video).stem().string();
            if (name.empty() || name[0] == '.') {  // no hidden folders
                name = "video";
            }
            const int use = ++uses[name];
            if (use > 1) {
                name += "-" + std::to_string(use);
            }
            folderOf[key] = outputDir + "/" + name;
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
