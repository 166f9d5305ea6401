#pragma once

#include <string>

namespace pelmora {

// printf-style formatting into a string of whatever length the result needs,
// so that no path is ever cut short or written past a fixed buffer.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pelmora
