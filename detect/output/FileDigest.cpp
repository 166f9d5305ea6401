#include "FileDigest.h"

extern "C" {
#include <libavutil/hash.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <vector>

#include "FileOutput.h"

namespace pelmora {

Digest::Digest() {
    if (av_hash_alloc(&context, "murmur3") < 0) {
        throw std::bad_alloc();
    }
    av_hash_init(context);
}

Digest::~Digest() {
    av_hash_freep(&context);
}

void Digest::add(const void* data, std::size_t size) {
    av_hash_update(context, static_cast<const std::uint8_t*>(data), size);
}

std::string Digest::hex() {
    // Two digits a byte and the terminating zero.
    std::string text(2 * static_cast<std::size_t>(av_hash_get_size(context)) + 1, '\0');
    av_hash_final_hex(context, reinterpret_cast<std::uint8_t*>(text.data()),
                      static_cast<int>(text.size()));
    text.pop_back();
    av_hash_init(context);
    return text;
}

std::string textDigest(const std::string& text) {
    Digest digest;
    digest.add(text.data(), text.size());
    return digest.hex();
}

std::string fileDigest(const std::string& path, std::string& digest) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return systemError(errno);
    }
    Digest sum;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return systemError(error);
        }
        if (got == 0) {
            break;
        }
        sum.add(buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    digest = sum.hex();
    return std::string();
}

}  // namespace pelmora
