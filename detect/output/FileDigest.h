#pragma once

#include <cstddef>
#include <string>

struct AVHashContext;

namespace pelmora {

// A checksum of bytes, as 32 lowercase hexadecimal digits: MurmurHash3's 128 bits, which tell a
// changed, cut or replaced file from the one written at several gigabytes a second, so that
// checking every snapshot of a long video costs little beside reading it.
class Digest {
public:
    Digest();
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void add(const void* data, std::size_t size);
    // The checksum of everything added; the digest starts again empty.
    std::string hex();

private:
    AVHashContext* context = nullptr;
};

std::string textDigest(const std::string& text);

// The checksum of the file at path into digest; returns why it cannot be read, or nothing.
std::string fileDigest(const std::string& path, std::string& digest);

}  // namespace pelmora
