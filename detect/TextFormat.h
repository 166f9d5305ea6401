#pragma once

#include <string>

namespace pelmora {

// printf-style formatting into a string of whatever length the result needs,
// so that no path is ever cut short or written past a fixed buffer.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "HH:MM:SS.mmm" for a time in whole milliseconds from the start of a video; the hours take
// more digits past 99.
std::string timecode(long long milliseconds);

}  // namespace pelmora
