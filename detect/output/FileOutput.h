#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "SystemError.h"

namespace pelmora {

// Writes the whole buffer to fd, across short writes and interrupted calls; false with the
// error number when the system refuses.
bool writeAll(int fd, const void* data, std::size_t size, int& error);

// Gives path exactly these contents, so that its name only ever holds a complete file: they are
// written under a temporary name in the same folder (see temporaryPath) and renamed into place.
// A failed write leaves nothing. Returns why it failed, or nothing.
std::string replaceFile(const std::string& path, const void* data, std::size_t size);

}  // namespace pelmora
