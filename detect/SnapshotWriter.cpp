#include "SnapshotWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <opencv2/imgcodecs.hpp>
#include <system_error>

namespace pelmora {

namespace {

// The system's text for an error, safe on any thread.
std::string systemError(int error) {
    return std::generic_category().message(error);
}

// The whole buffer, across short writes and interrupted calls.
bool writeAll(int fd, const uchar* data, std::size_t size, int& error) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::string SnapshotWriter::temporaryPath(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + "." + path.substr(nameStart) + "." +
           std::to_string(::getpid()) + ".part";
}

WriteResult SnapshotWriter::write(const std::string& path, const cv::Mat& image) {
    WriteResult result;
    try {
        // The same encoder and parameters as writing the file directly: the same bytes.
        if (!cv::imencode(".jpg", image, encoded)) {
            result.reason = "the image could not be encoded";
            return result;
        }
    } catch (const cv::Exception& exception) {
        result.reason = exception.msg;
        return result;
    }
    // Only this process uses its own temporary names, so one left by an earlier process of
    // the same number is stale and may be replaced.
    const std::string temporary = temporaryPath(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        result.reason = systemError(errno);
        return result;
    }
    int error = 0;
    bool written = writeAll(fd, encoded.data(), encoded.size(), error);
    if (::close(fd) != 0 && written) {
        error = errno;
        written = false;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
        written = false;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        result.reason = systemError(error);
        return result;
    }
    result.saved = true;
    return result;
}

}  // namespace pelmora
