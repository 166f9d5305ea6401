#include "SnapshotWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <opencv2/imgcodecs.hpp>

namespace pelmora {

namespace {

std::string systemError(int error) {
    return std::strerror(error);
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
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        result.reason = systemError(errno);
        return result;
    }
    int error = 0;
    const bool written = writeAll(fd, encoded.data(), encoded.size(), error);
    if (::close(fd) != 0 && written) {
        result.reason = systemError(errno);
        return result;
    }
    if (!written) {
        result.reason = systemError(error);
        return result;
    }
    result.saved = true;
    return result;
}

}  // namespace pelmora
