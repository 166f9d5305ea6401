#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pelmora {

// A stretch of a video that the user knows holds motion, from its start to its end, both
// included, in whole milliseconds.
struct KnownMoment {
    long long startMs = 0;
    long long endMs = 0;
};

struct MomentsFile {
    std::vector<KnownMoment> moments;  // in the order of the file
    std::string error;  // why the text is no moments file ("line 3: ..."), or nothing
};

// A time as a moments file gives it, in seconds ("12", "12.5", to the millisecond at most) or as
// "HH:MM:SS" with up to three decimals ("00:01:02.500"), in whole milliseconds; nothing for
// text that is neither.
std::optional<long long> momentTimeMs(const std::string& text);

// The moments of a moments file's text: one a line, "start,end", each time in seconds ("12",
// "12.5", to the millisecond at most) or as "HH:MM:SS" with up to three decimals
// ("00:01:02.500"); blank lines are skipped, "#" starts a comment to the end of the line, spaces
// around a time and a line ending of another system are not part of it. A line that is none of
// these, or a moment that ends before it starts, refuses the whole text.
MomentsFile parseMoments(const std::string& text);

// The moments of the file at path; a file that cannot be read, or holds no moment, is refused
// too.
MomentsFile readMomentsFile(const std::string& path);

// The text of a moments file that parseMoments reads back as these moments.
std::string momentsFileText(const std::vector<KnownMoment>& moments);

// Whether a stretch from startMs to endMs shares a moment of time with the moment.
inline bool overlaps(const KnownMoment& moment, long long startMs, long long endMs) {
    return startMs <= moment.endMs && endMs >= moment.startMs;
}

}  // namespace pelmora
