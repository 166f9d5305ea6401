#pragma once

namespace pelmora {

// The thresholds a run takes, as the window's slider and pelmora-scan both offer them, so that
// a threshold found to suit a camera in one can be used in the other.
constexpr int kMinimumThreshold = 0;
constexpr int kMaximumThreshold = 50;

}  // namespace pelmora
