#include "FileOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "FolderNames.h"

namespace pelmora {

bool writeAll(int fd, const void* data, std::size_t size, int& error) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string replaceFile(const std::string& path, const void* data, std::size_t size) {
    // Only this process uses its own temporary names, so one left by an earlier process of
    // the same number is stale and may be replaced.
    const std::string temporary = temporaryPath(path);
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return systemError(errno);
    }
    int error = 0;
    bool written = writeAll(fd, data, size, error);
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
        return systemError(error);
    }
    return std::string();
}

}  // namespace pelmora
