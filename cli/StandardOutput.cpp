#include "StandardOutput.h"

#include <cerrno>
#include <cstring>

int putOutput(std::FILE* out, const std::string& text) {
    errno = 0;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fflush(out) != 0 || !written || std::ferror(out) != 0) {
        return errno != 0 ? errno : EIO;
    }
    return 0;
}

void sayOutputLost(int error) {
    std::fprintf(stderr, "pelmora-scan: cannot write to the standard output: %s\n",
                 std::strerror(error));
}
