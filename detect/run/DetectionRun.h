#pragma once

#include <string>

#include "RunRequest.h"

namespace pelmora {

class FrameDetector;

// One whole detection run over a video, frame by frame until the video ends or the host
// asks to stop. The detector keeps its reference for the next run.
//
// The video is decoded on a thread of its own and snapshots are written on others, while the
// host, the observer and the view see every call on the calling thread and in frame order: a
// "[path]" line once its file is completely written, progress and the stop question once per
// frame. A stop takes effect after the current frame; the snapshots taken by then are written
// and logged before the run returns. A watched region of another size than the frames is
// scaled to them, with a warning; so is a change of frame size in mid-video, after which the
// frames are compared with black at their new size. A change of pixel format alone is said and
// changes nothing else.
//
// A video that opens but cannot be read through has failed (status Failed, with the reason, and
// a failure line): no frame of it could be read, a picture could not be converted, or a stage
// of the run threw (the decoder's thread, the converter, a snapshot writer, the observer). The
// exception ends this run only: the snapshots taken before it are written and told, the observer
// hears of the end, and the caller goes on.
RunReport runDetection(FrameDetector& detector, const RunRequest& request, RunHost& host);

}  // namespace pelmora
