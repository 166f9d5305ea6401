#include "VideoJob.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

namespace pelmora {

VideoJob::VideoJob(std::string videoPath, std::string outputDir)
    : videoPath(std::move(videoPath)), outputDir(std::move(outputDir)) {}

std::string VideoJob::open(int decoderThreads) {
    return source.open(videoPath, decoderThreads);
}

std::string VideoJob::derivedDirectory(const std::string& videoPath) {
    const std::string::size_type slash = videoPath.rfind('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string::size_type dot = videoPath.rfind('.');
    // A dot in a folder's name says nothing about the file: "rec.2024/cam1" must not share
    // "rec" with "rec.2024/cam2", and "noext" must not name itself.
    if (dot == std::string::npos || dot < nameStart) {
        return videoPath + "-snapshots";
    }
    return videoPath.substr(0, dot);
}

std::string VideoJob::snapshotFolder(const std::string& videoPath, const std::string& outputDir) {
    return outputDir.empty() ? derivedDirectory(videoPath) : outputDir;
}

std::string VideoJob::prepareOutputDirectory() {
    outputDir = snapshotFolder(videoPath, outputDir);
    // An empty folder is the current one (the video's name is only an extension).
    const std::string folder = outputDir.empty() ? std::string(".") : outputDir;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return error.message();
    }
    // Permissions, a read-only mount or a full quota show only when a file is made.
    const std::string probe = folder + "/.pelmora-probe-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return std::generic_category().message(errno);
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return std::string();
}

void VideoJob::releaseSource() {
    source.close();
}

bool VideoJob::isAcceptedVideoPath(const std::string& videoPath) {
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
