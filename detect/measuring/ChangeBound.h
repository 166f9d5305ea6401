#pragma once

namespace pelmora {

// How far apart the blue, green and red bytes that the scaler makes of two 8-bit YUV samples
// can be, given how far apart the samples are. The scaler uses BT.601's coefficients unless
// told otherwise, in video range or, for the "J" formats, in full range.
//
// The scaler's byte for a channel is clip(L) + e: L the linear value of the sample, with the
// coefficients below, and e the error of the scaler's integer arithmetic. For two samples,
//     |byte1 - byte2| <= |clip(L1) - clip(L2)| + |e1 - e2| <= |L1 - L2| + spread,
// since clipping never widens a gap, and spread is the largest e less the smallest. And |L1 - L2|
// is at most each coefficient times the difference of its component. A test converts every one
// of the 2^24 samples with the program's own scaler call and holds the spreads below to what it
// measures, so the bound is a fact about the scaler as it is built here, not a model of it.
struct ChangeBound {
    // Per unit of difference: Y to every channel; U to blue and green; V to green and red.
    double luma, blueU, greenU, greenV, redV;
    double blueSpread, greenSpread, redSpread;
};

// The scaler's own coefficients for BT.601 in video range, in its unit of 1/65536; full range
// keeps Y as it is and narrows the colour coefficients by 224 / 255.
inline constexpr double kScalerUnit = 65536.0;
inline constexpr double kBlueU = 132201.0 / kScalerUnit;
inline constexpr double kGreenU = 25675.0 / kScalerUnit;
inline constexpr double kGreenV = 53279.0 / kScalerUnit;
inline constexpr double kRedV = 104597.0 / kScalerUnit;
inline constexpr double fullRange(double coefficient) {
    return coefficient * 224.0 / 255.0;
}

inline constexpr ChangeBound kVideoRangeBound{255.0 / 219.0, kBlueU, kGreenU, kGreenV,
                                              kRedV,         2.0,    3.0,     2.0};
inline constexpr ChangeBound kFullRangeBound{
    1.0, fullRange(kBlueU), fullRange(kGreenU), fullRange(kGreenV), fullRange(kRedV), 1.0, 2.0,
    1.0};

}  // namespace pelmora
