#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace pelmora {

// A stretch of positions, first and last both in it.
struct Span {
    long long first = 0;
    long long last = 0;
};

// One stretch of padded spans: the spans from index from up to, not including, to share it.
struct PaddedSpan {
    long long first = 0;
    long long last = 0;
    std::size_t from = 0;
    std::size_t to = 0;
};

// How spans are padded and when two of them are one. Margins are never negative (the options
// take no sign). end is the last position the video holds, or negative where that is unknown
// and a margin may reach past it. touch is how far apart two stretches may lie and still touch:
// 0 on a clock of milliseconds, where a stretch ending at t meets one starting at t; 1 for
// whole frames, where frame n meets frame n + 1.
struct SpanMargins {
    long long beforeMs = 0;
    long long afterMs = 0;
    long long end = -1;
    long long touch = 0;
};

// Positions that are milliseconds already.
struct MillisecondClock {
    long long msOf(long long position) const { return position; }
    long long firstFrom(long long ms) const { return ms; }
    long long lastTo(long long ms) const { return ms; }
};

// Each span, in order of first, from the first position named beforeMs or less before its
// first to the last named afterMs or less after its last, never before 0 nor past end, and
// never less than the span itself; a stretch that overlaps or touches the one before is merged
// into it. clock names the positions: msOf(position), firstFrom(ms) for the first position
// named ms or later, lastTo(ms) for the last named ms or earlier (see FrameNames, whose frames
// a digest pads, and MillisecondClock). A template, so that either clock's calls are plain ones.
template <class Clock>
std::vector<PaddedSpan> padSpans(const std::vector<Span>& spans, const SpanMargins& margins,
                                 const Clock& clock) {
    std::vector<PaddedSpan> padded;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const Span& span = spans[i];
        const long long first = std::max(
            0LL, std::min(span.first, clock.firstFrom(clock.msOf(span.first) - margins.beforeMs)));
        long long last = std::max(span.last, clock.lastTo(clock.msOf(span.last) + margins.afterMs));
        if (margins.end >= 0) {
            last = std::min(last, margins.end);
        }
        if (!padded.empty() && first <= padded.back().last + margins.touch) {
            padded.back().last = std::max(padded.back().last, last);
            padded.back().to = i + 1;
            continue;
        }
        padded.push_back({first, last, i, i + 1});
    }
    return padded;
}

}  // namespace pelmora
