#pragma once

#include <vector>

#include "EventGrouper.h"
#include "FrameNames.h"
#include "OverviewContent.h"
#include "VideoDigest.h"

namespace pelmora {

// The pieces of a digest of a video whose frames run from 0 to lastFrame, named as names says:
// each event's stretch from the first frame named beforeMs or less before its first snapshot to
// the last named afterMs or less after its last, cut to the frames the video holds, stretches that
// overlap or touch merged into one; and the quiet before, between and after them, one frame in
// speed. None when there is no event.
std::vector<DigestPiece> planDigest(const std::vector<MotionEvent>& events, long long lastFrame,
                                    const FrameNames& names, long long beforeMs, long long afterMs,
                                    long long speed);

// The stretches of a day's digest (see writeDayDigest): each event of every video whose start
// is known, from beforeMs before it to afterMs after, cut to what the video holds, stretches of
// one video that overlap or touch merged, all in clock order and on the overview's clock.
std::vector<CameraStretch> planDayDigest(const OverviewContent& overview, long long beforeMs,
                                         long long afterMs);

}  // namespace pelmora
