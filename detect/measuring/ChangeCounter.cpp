#include "ChangeCounter.h"

#include <algorithm>
#include <cstdint>
#include <opencv2/core/hal/intrin.hpp>

namespace pelmora {

namespace {

// Rows hold, for each byte of a row, how far its change exceeds the threshold (0: not a
// change). A pixel survives erosion where the smallest excess in its neighbourhood is not 0.
// Rows are padded with one pixel of the largest excess on each side, and the rows outside the
// image are all of it: outside pixels never erode their neighbours.
constexpr int kPad = 3;
constexpr uchar kOutside = 0xFF;

#if CV_SIMD
constexpr int kLanes = cv::v_uint8::nlanes;
#else
constexpr int kLanes = 16;
#endif

// A row is taken a block of kBlock bytes at a time, and each row keeps, for each block,
// whether any of its bytes changed. A byte survives only where it changed in its own row and in
// the rows above and below, so only blocks that changed in all three rows are eroded and
// counted: in a still scene, a few in a hundred. The bytes after the last whole block form one
// more block, taken a byte at a time.
constexpr int kVectors = 4;
constexpr int kBlock = kVectors * kLanes;

struct RowBlocks {
    int whole = 0;  // whole blocks of kBlock bytes
    int tail = 0;   // bytes after them
};

// excess[i] = |frame[i] - reference[i]| - threshold, or 0 where that is not positive;
// changed[b] tells whether block b has any excess. Returns whether the row has any.
bool excessRow(const uchar* frame, const uchar* reference, uchar* excess, uchar* changed,
               RowBlocks blocks, uchar threshold) {
    bool any = false;
    int i = 0;
    int block = 0;
#if CV_SIMD
    const cv::v_uint8 limit = cv::vx_setall_u8(threshold);
    const cv::v_uint8 zero = cv::vx_setzero_u8();
    for (; block < blocks.whole; ++block) {
        cv::v_uint8 changes = zero;
        for (int vector = 0; vector < kVectors; ++vector, i += kLanes) {
            // Saturating subtraction: 0 unless the difference is above the threshold.
            const cv::v_uint8 value =
                cv::v_absdiff(cv::vx_load(frame + i), cv::vx_load(reference + i)) - limit;
            cv::v_store(excess + i, value);
            changes |= value;
        }
        changed[block] = cv::v_check_any(changes != zero);
        any = any || changed[block];
    }
#endif
    // Without vectors every block is taken a byte at a time.
    const int length = blocks.whole * kBlock + blocks.tail;
    for (; i < length; ++block) {
        changed[block] = 0;
        for (const int end = std::min(i + kBlock, length); i < end; ++i) {
            const int difference =
                frame[i] > reference[i] ? frame[i] - reference[i] : reference[i] - frame[i];
            excess[i] = static_cast<uchar>(std::max(difference - threshold, 0));
            changed[block] |= excess[i] != 0;
        }
        any = any || changed[block];
    }
    return any;
}

// Counts, per channel, the bytes of the middle row whose 3 x 3 neighbourhood across the three
// rows all changed; with Watched, only where the watched row's byte is 255 (it is 0 or 255).
// lanes[p][j] counts lane j of the vectors whose lane 0 belongs to channel p.
template <bool Watched>
void countRow(const uchar* const rows[3], const uchar* const changed[3], const uchar* watched,
              RowBlocks blocks, std::uint64_t lanes[3][kLanes], long long channels[3]) {
    int block = 0;
#if CV_SIMD
    const cv::v_uint8 one = cv::vx_setall_u8(1);
    cv::v_uint8 sums[3] = {cv::vx_setzero_u8(), cv::vx_setzero_u8(), cv::vx_setzero_u8()};
    int pending[3] = {0, 0, 0};
    const auto flush = [&](int phase) {
        uchar values[kLanes];
        cv::v_store(values, sums[phase]);
        for (int lane = 0; lane < kLanes; ++lane) {
            lanes[phase][lane] += values[lane];
        }
        sums[phase] = cv::vx_setzero_u8();
        pending[phase] = 0;
    };
    const auto across = [](const uchar* row, int at) {
        return cv::v_min(cv::v_min(cv::vx_load(row + at - kPad), cv::vx_load(row + at)),
                         cv::vx_load(row + at + kPad));
    };
    for (; block < blocks.whole; ++block) {
        if (!(changed[0][block] && changed[1][block] && changed[2][block])) {
            continue;
        }
        for (int vector = 0; vector < kVectors; ++vector) {
            const int at = block * kBlock + vector * kLanes;
            const cv::v_uint8 eroded =
                cv::v_min(cv::v_min(across(rows[0], at), across(rows[1], at)), across(rows[2], at));
            const int phase = at % 3;
            if constexpr (Watched) {
                sums[phase] += cv::v_min(eroded, one) & cv::vx_load(watched + at);
            } else {
                sums[phase] += cv::v_min(eroded, one);
            }
            // Each byte of a sum holds at most 255.
            if (++pending[phase] == 255) {
                flush(phase);
            }
        }
    }
    for (int phase = 0; phase < 3; ++phase) {
        flush(phase);
    }
#endif
    const int length = blocks.whole * kBlock + blocks.tail;
    for (int i = block * kBlock; i < length; ++block) {
        const int end = std::min(i + kBlock, length);
        if (!(changed[0][block] && changed[1][block] && changed[2][block])) {
            i = end;
            continue;
        }
        for (; i < end; ++i) {
            uchar eroded = kOutside;
            for (const uchar* row : {rows[0], rows[1], rows[2]}) {
                eroded = std::min({eroded, row[i - kPad], row[i], row[i + kPad]});
            }
            channels[i % 3] += eroded != 0 && (!Watched || watched[i] != 0);
        }
    }
}

// Adds, per channel, the bytes of the middle row whose 3 x 3 neighbourhood across the three
// rows all changed to bins[channel][smallest excess], excesses past top in bin top; with
// Watched, only where the watched row's byte is 255.
template <bool Watched>
void histogramRow(const uchar* const rows[3], const uchar* const changed[3], const uchar* watched,
                  RowBlocks blocks, int top, long long* const bins[3]) {
    const auto add = [&](int at, uchar eroded) { bins[at % 3][std::min<int>(eroded, top)] += 1; };
    int block = 0;
#if CV_SIMD
    const cv::v_uint8 zero = cv::vx_setzero_u8();
    const auto across = [](const uchar* row, int at) {
        return cv::v_min(cv::v_min(cv::vx_load(row + at - kPad), cv::vx_load(row + at)),
                         cv::vx_load(row + at + kPad));
    };
    uchar values[kLanes];
    for (; block < blocks.whole; ++block) {
        if (!(changed[0][block] && changed[1][block] && changed[2][block])) {
            continue;
        }
        for (int vector = 0; vector < kVectors; ++vector) {
            const int at = block * kBlock + vector * kLanes;
            cv::v_uint8 eroded =
                cv::v_min(cv::v_min(across(rows[0], at), across(rows[1], at)), across(rows[2], at));
            if constexpr (Watched) {
                eroded = eroded & cv::vx_load(watched + at);
            }
            // Most vectors of a block that changed somewhere hold no survivor at all.
            if (!cv::v_check_any(eroded != zero)) {
                continue;
            }
            cv::v_store(values, eroded);
            for (int lane = 0; lane < kLanes; ++lane) {
                if (values[lane] != 0) {
                    add(at + lane, values[lane]);
                }
            }
        }
    }
#endif
    const int length = blocks.whole * kBlock + blocks.tail;
    for (int i = block * kBlock; i < length; ++block) {
        const int end = std::min(i + kBlock, length);
        if (!(changed[0][block] && changed[1][block] && changed[2][block])) {
            i = end;
            continue;
        }
        for (; i < end; ++i) {
            uchar eroded = kOutside;
            for (const uchar* row : {rows[0], rows[1], rows[2]}) {
                eroded = std::min({eroded, row[i - kPad], row[i], row[i + kPad]});
            }
            if (eroded != 0 && (!Watched || watched[i] != 0)) {
                add(i, eroded);
            }
        }
    }
}

}  // namespace

long long ChannelCounts::busiest() const {
    return std::max({channel[0], channel[1], channel[2]});
}

template <typename Visit>
void ChangeCounter::forRowsThatMaySurvive(const cv::Mat& frame, const cv::Mat& reference,
                                          int threshold, FrameRows* frameRows, Visit&& visit) {
    const int rows = frame.rows;
    const int length = frame.cols * 3;
    // A pixel survives only where its whole neighbourhood changed. Rows are taken in bands of
    // three, and the neighbourhood of every pixel of a band includes the band's middle row (or,
    // for a band that the image cuts short, its last row): where that row has no change, the
    // band has no survivor and its other rows are never read. A still scene costs a third of
    // its rows. The excess of a row is worked out once, into one of five slots that rows take
    // in turn: a band needs the five rows around it, two of which the band before it had.
    constexpr int kSlots = 5;
    constexpr int kOutsideSlot = kSlots;  // all of it the largest excess, every block changed
    const RowBlocks blocks{length / kBlock, length % kBlock};
    const std::size_t stride = static_cast<std::size_t>(length) + 2 * kPad;
    const std::size_t blockCount = static_cast<std::size_t>(blocks.whole) + 1;
    const std::size_t slotsSize = (kSlots + 1) * (stride + blockCount);
    if (scratch.size() != slotsSize) {
        scratch.assign(slotsSize, kOutside);
    }
    uchar* excess[kSlots + 1];
    uchar* changed[kSlots + 1];
    for (int slot = 0; slot <= kSlots; ++slot) {
        excess[slot] = &scratch[slot * stride + kPad];
        changed[slot] = &scratch[(kSlots + 1) * stride + slot * blockCount];
    }
    int rowInSlot[kSlots] = {-1, -1, -1, -1, -1};
    bool rowChanged[kSlots + 1] = {false, false, false, false, false, true};
    const auto slotOf = [&](int y) {
        if (y < 0 || y >= rows) {
            return kOutsideSlot;
        }
        const int slot = y % kSlots;
        if (rowInSlot[slot] != y) {
            rowInSlot[slot] = y;
            if (frameRows != nullptr) {
                frameRows->make(y);
            }
            rowChanged[slot] = excessRow(frame.ptr<uchar>(y), reference.ptr<uchar>(y), excess[slot],
                                         changed[slot], blocks, static_cast<uchar>(threshold));
        }
        return slot;
    };

    for (int top = 0; top < rows; top += 3) {
        // Made rows answer for a whole band at once; rows still to be made answer row by row,
        // before any of them is made.
        if (frameRows == nullptr && !rowChanged[slotOf(std::min(top + 1, rows - 1))]) {
            continue;
        }
        for (int y = top; y < std::min(top + 3, rows); ++y) {
            if (frameRows != nullptr && !frameRows->maySurvive(y)) {
                continue;
            }
            const int slots[3] = {slotOf(y - 1), slotOf(y), slotOf(y + 1)};
            if (!(rowChanged[slots[0]] && rowChanged[slots[1]] && rowChanged[slots[2]])) {
                continue;
            }
            const uchar* const rowsAround[3] = {excess[slots[0]], excess[slots[1]],
                                                excess[slots[2]]};
            const uchar* const changedAround[3] = {changed[slots[0]], changed[slots[1]],
                                                   changed[slots[2]]};
            visit(rowsAround, changedAround, y);
        }
    }
}

ChannelCounts ChangeCounter::count(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                                   const cv::Mat& watched, FrameRows* frameRows) {
    CV_Assert(frame.type() == CV_8UC3 && reference.type() == CV_8UC3 &&
              frame.size() == reference.size());
    CV_Assert(watched.empty() || (watched.type() == CV_8UC3 && watched.size() == frame.size()));
    ChannelCounts counts;
    const int rows = frame.rows;
    const int length = frame.cols * 3;
    if (rows == 0 || length == 0 || threshold >= 255) {
        return counts;
    }
    // Every difference counts, so nothing erodes, and the frame itself need not be read.
    if (threshold < 0) {
        for (int y = 0; y < rows; ++y) {
            const uchar* watchedRow = watched.empty() ? nullptr : watched.ptr<uchar>(y);
            for (int i = 0; i < length; ++i) {
                counts.channel[i % 3] += watchedRow == nullptr || watchedRow[i] != 0;
            }
        }
        return counts;
    }
    const RowBlocks blocks{length / kBlock, length % kBlock};
    std::uint64_t lanes[3][kLanes] = {};
    forRowsThatMaySurvive(
        frame, reference, threshold, frameRows,
        [&](const uchar* const rowsAround[3], const uchar* const changedAround[3], int y) {
            if (watched.empty()) {
                countRow<false>(rowsAround, changedAround, nullptr, blocks, lanes, counts.channel);
            } else {
                countRow<true>(rowsAround, changedAround, watched.ptr<uchar>(y), blocks, lanes,
                               counts.channel);
            }
        });
    for (int phase = 0; phase < 3; ++phase) {
        for (int lane = 0; lane < kLanes; ++lane) {
            counts.channel[(phase + lane) % 3] += static_cast<long long>(lanes[phase][lane]);
        }
    }
    return counts;
}

void ChangeCounter::histogram(const cv::Mat& frame, const cv::Mat& reference,
                              ChangeHistogram& histogram, const cv::Mat& watched,
                              FrameRows* frameRows) {
    CV_Assert(frame.type() == CV_8UC3 && reference.type() == CV_8UC3 &&
              frame.size() == reference.size());
    CV_Assert(watched.empty() || (watched.type() == CV_8UC3 && watched.size() == frame.size()));
    CV_Assert(histogram.lowest() >= 0 && histogram.lowest() < 255);
    const int length = frame.cols * 3;
    if (frame.rows == 0 || length == 0) {
        return;
    }
    const RowBlocks blocks{length / kBlock, length % kBlock};
    long long* bins[3] = {histogram.binsOf(0), histogram.binsOf(1), histogram.binsOf(2)};
    const int top = histogram.span() + 1;
    forRowsThatMaySurvive(
        frame, reference, histogram.lowest(), frameRows,
        [&](const uchar* const rowsAround[3], const uchar* const changedAround[3], int y) {
            if (watched.empty()) {
                histogramRow<false>(rowsAround, changedAround, nullptr, blocks, top, bins);
            } else {
                histogramRow<true>(rowsAround, changedAround, watched.ptr<uchar>(y), blocks, top,
                                   bins);
            }
        });
}

void ChangeHistogram::reset(int lowest, int span) {
    base = lowest;
    top = std::max(span, 0) + 1;
    for (std::vector<long long>& channel : bins) {
        channel.assign(static_cast<std::size_t>(top) + 1, 0);
    }
}

ChannelCounts ChangeHistogram::countsAt(int threshold) const {
    CV_Assert(threshold >= base && threshold < base + top);
    ChannelCounts counts;
    for (int channel = 0; channel < 3; ++channel) {
        const std::vector<long long>& each = bins[channel];
        for (int excess = threshold - base + 1; excess <= top; ++excess) {
            counts.channel[channel] += each[static_cast<std::size_t>(excess)];
        }
    }
    return counts;
}

long long ChangeHistogram::busiestAt(int threshold) const {
    return countsAt(threshold).busiest();
}

}  // namespace pelmora
