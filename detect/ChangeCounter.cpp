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
// The counting loop takes three vectors of whole pixels at a time, so that byte k of every
// block belongs to channel k % 3.
constexpr int kBlock = 3 * kLanes;

// excess[i] = |frame[i] - reference[i]| - threshold, or 0 where that is not positive. Returns
// whether any byte of the row changed.
bool excessRow(const uchar* frame, const uchar* reference, uchar* excess, int length,
               uchar threshold) {
    int i = 0;
    bool changed = false;
#if CV_SIMD
    const cv::v_uint8 limit = cv::vx_setall_u8(threshold);
    cv::v_uint8 any = cv::vx_setzero_u8();
    for (; i + kLanes <= length; i += kLanes) {
        // Saturating subtraction: 0 unless the difference is above the threshold.
        const cv::v_uint8 value =
            cv::v_absdiff(cv::vx_load(frame + i), cv::vx_load(reference + i)) - limit;
        cv::v_store(excess + i, value);
        any |= value;
    }
    changed = cv::v_check_any(any != cv::vx_setzero_u8());
#endif
    for (; i < length; ++i) {
        const int difference =
            frame[i] > reference[i] ? frame[i] - reference[i] : reference[i] - frame[i];
        excess[i] = static_cast<uchar>(std::max(difference - threshold, 0));
        changed = changed || excess[i] != 0;
    }
    return changed;
}

// The erosion across a row: each byte and the same channel of the pixels left and right.
void erodeAcross(const uchar* excess, uchar* eroded, int length) {
    int i = 0;
#if CV_SIMD
    for (; i + kLanes <= length; i += kLanes) {
        cv::v_store(eroded + i,
                    cv::v_min(cv::v_min(cv::vx_load(excess + i - kPad), cv::vx_load(excess + i)),
                              cv::vx_load(excess + i + kPad)));
    }
#endif
    for (; i < length; ++i) {
        eroded[i] = std::min({excess[i - kPad], excess[i], excess[i + kPad]});
    }
}

// The erosion down the rows, counting the survivors of byte k of a block into lanes[k]; with
// Watched, only where the watched row's byte is 255 (it is 0 or 255).
template <bool Watched>
void countDown(const uchar* above, const uchar* row, const uchar* below, const uchar* watched,
               int length, std::uint64_t lanes[kBlock]) {
    int i = 0;
#if CV_SIMD
    const cv::v_uint8 one = cv::vx_setall_u8(1);
    cv::v_uint8 sums[3] = {cv::vx_setzero_u8(), cv::vx_setzero_u8(), cv::vx_setzero_u8()};
    int pending = 0;
    const auto flush = [&] {
        for (int k = 0; k < 3; ++k) {
            uchar values[kLanes];
            cv::v_store(values, sums[k]);
            for (int lane = 0; lane < kLanes; ++lane) {
                lanes[kLanes * k + lane] += values[lane];
            }
            sums[k] = cv::vx_setzero_u8();
        }
        pending = 0;
    };
    for (; i + kBlock <= length; i += kBlock) {
        for (int k = 0; k < 3; ++k) {
            const int at = i + kLanes * k;
            const cv::v_uint8 eroded = cv::v_min(
                cv::v_min(cv::vx_load(above + at), cv::vx_load(row + at)), cv::vx_load(below + at));
            if constexpr (Watched) {
                sums[k] += cv::v_min(eroded, one) & cv::vx_load(watched + at);
            } else {
                sums[k] += cv::v_min(eroded, one);
            }
        }
        // Each byte of a sum holds at most 255.
        if (++pending == 255) {
            flush();
        }
    }
    flush();
#endif
    // i is a multiple of the block, so byte i belongs to channel i % 3.
    for (; i < length; ++i) {
        lanes[i % 3] +=
            std::min({above[i], row[i], below[i]}) != 0 && (!Watched || watched[i] != 0);
    }
}

}  // namespace

long long ChannelCounts::busiest() const {
    return std::max({channel[0], channel[1], channel[2]});
}

ChannelCounts ChangeCounter::count(const cv::Mat& frame, const cv::Mat& reference, int threshold,
                                   const cv::Mat& watched) {
    CV_Assert(frame.type() == CV_8UC3 && reference.type() == CV_8UC3 &&
              frame.size() == reference.size());
    CV_Assert(watched.empty() || (watched.type() == CV_8UC3 && watched.size() == frame.size()));
    ChannelCounts counts;
    const int rows = frame.rows;
    const int length = frame.cols * 3;
    if (rows == 0 || length == 0 || threshold >= 255) {
        return counts;
    }
    if (threshold < 0) {  // every difference counts, so nothing erodes
        for (int y = 0; y < rows; ++y) {
            const uchar* watchedRow = watched.empty() ? nullptr : watched.ptr<uchar>(y);
            for (int i = 0; i < length; ++i) {
                counts.channel[i % 3] += watchedRow == nullptr || watchedRow[i] != 0;
            }
        }
        return counts;
    }

    // Three rows of excess and three eroded across, which take turns, and the row that stands
    // for those outside the image. A still scene changes nowhere in most rows, and a pixel
    // survives only where its own row and both neighbours changed somewhere, so the erosion
    // runs only around rows that changed.
    const std::size_t stride = static_cast<std::size_t>(length) + 2 * kPad;
    if (scratch.size() != 7 * stride) {
        scratch.assign(7 * stride, kOutside);
    }
    uchar* excess[3];
    uchar* eroded[3];
    for (int slot = 0; slot < 3; ++slot) {
        excess[slot] = &scratch[slot * stride + kPad];
        eroded[slot] = &scratch[(3 + slot) * stride + kPad];
    }
    const uchar* outside = &scratch[6 * stride + kPad];
    bool changed[3] = {false, false, false};
    int erodedRow[3] = {-1, -1, -1};  // the row each eroded slot holds

    const auto addRow = [&](int y) {
        changed[y % 3] = excessRow(frame.ptr<uchar>(y), reference.ptr<uchar>(y), excess[y % 3],
                                   length, static_cast<uchar>(threshold));
    };
    const auto changedRow = [&](int y) { return y < 0 || y >= rows || changed[y % 3]; };
    const auto erodedAcross = [&](int y) -> const uchar* {
        if (y < 0 || y >= rows) {
            return outside;
        }
        if (erodedRow[y % 3] != y) {
            erodeAcross(excess[y % 3], eroded[y % 3], length);
            erodedRow[y % 3] = y;
        }
        return eroded[y % 3];
    };
    std::uint64_t lanes[kBlock] = {};
    addRow(0);
    if (rows > 1) {
        addRow(1);
    }
    for (int y = 0; y < rows; ++y) {
        if (changedRow(y - 1) && changedRow(y) && changedRow(y + 1)) {
            const uchar* above = erodedAcross(y - 1);
            const uchar* below = erodedAcross(y + 1);
            if (watched.empty()) {
                countDown<false>(above, erodedAcross(y), below, nullptr, length, lanes);
            } else {
                countDown<true>(above, erodedAcross(y), below, watched.ptr<uchar>(y), length,
                                lanes);
            }
        }
        // Row y - 1 is no longer needed; its slots take row y + 2.
        if (y + 2 < rows) {
            addRow(y + 2);
        }
    }
    for (int k = 0; k < kBlock; ++k) {
        counts.channel[k % 3] += static_cast<long long>(lanes[k]);
    }
    return counts;
}

}  // namespace pelmora
