#pragma once

#include "RunReport.h"
#include "RunRequest.h"

namespace pelmora {

// A run answered from request.question's index instead of the video, into request's folder:
// the index's frames followed again under the request's objects settings and kept polygons,
// with what the run's frame loop does of each (the observer's calls, the lines, the names),
// so that its files are those a run of the video with these settings leaves. The snapshots'
// pictures are read from the video by seeking to each exactly, and only where asked. Fills
// report as runDetection does; started and framesRan as its stages say.
void answerFromIndex(const RunRequest& request, RunHost& host, RunReport& report, bool& started,
                     bool& framesRan);

}  // namespace pelmora
