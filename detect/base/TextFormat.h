#pragma once

#include <string>

namespace pelmora {

// printf-style formatting into a string of whatever length the result needs,
// so that no path is ever cut short or written past a fixed buffer.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Bytes percent-encoded as in a URL: letters, digits, '-', '.', '_', '~' and the characters of
// alsoPlain as they are, every other byte as %XX with capitals. Decoding gives the bytes back
// exactly, whatever they are.
std::string percentEncoded(const std::string& bytes, const char* alsoPlain = "");

// 1234567 as "1,234,567", for counts that people read.
std::string groupedNumber(long long number);

// Every way a time is printed, so that a time reads the same wherever it shows.

// "HH:MM:SS.mmm" for a time in whole milliseconds from the start of a video; the hours take
// more digits past 99.
std::string timecode(long long milliseconds);

// "2 s", "1.5 s", "0.04 s": whole milliseconds as seconds, to six significant digits.
std::string plainSeconds(long long milliseconds);

// "3:07" and "1:02:03": whole seconds as a clock shows them.
std::string minutesAndSeconds(long long seconds);
std::string hoursMinutesSeconds(long long seconds);

// "12.3 s": how long a run took, in the window, where tenths are what a glance takes in.
// Halves of a tenth round up, as people round them by hand.
std::string secondsInTenths(double seconds);

// "12.35 s": how long a video took, in pelmora-scan's summary, finer than the window so that
// the runs of short clips in a batch can be told apart.
std::string secondsInHundredths(double seconds);

// "12.5 s", "3:07", "1:02:03", or "--" with no estimate: the time a run has left, in tenths
// only under a minute, as an estimate is worth no more.
std::string timeLeft(double seconds);

}  // namespace pelmora
