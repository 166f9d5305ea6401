#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "VideoStart.h"

namespace pelmora {

// How a run over a video ended, and what it read and wrote.
struct RunReport {
    // Failed: the video opened but could not be read through (no frame of it could be read, a
    // picture could not be converted, a stage of the run threw); failure says why.
    enum class Status { Finished, Stopped, OpenFailed, OutputUnusable, Failed };
    Status status = Status::Finished;
    std::string openError;    // why the video did not open
    std::string outputDir;    // where the snapshots went
    std::string outputError;  // why outputDir cannot hold snapshots
    std::string failure;      // why the run failed part-way
    long long framesRead = 0;
    long long framesAnnounced = 0;  // the container's frame count; 0 when it gives none
    long long snapshotsWritten = 0;
    long long snapshotsLost = 0;
    // The first and last frame read, by index and presentation time in milliseconds (the index
    // time where a frame has none); lastFrame is -1 when none was read.
    long long firstFrame = 0;
    long long lastFrame = -1;
    double firstMs = 0.0;
    double lastMs = 0.0;
    // For an exact stretch: why a frame's index could not be told exactly, which stopped the
    // run (status Stopped) before that frame.
    std::string inexact;
    // The run ended after a snapshot that endsAfterSnapshot asked it to end at.
    bool endedAtSnapshot = false;
    // The first frame's clock time, where something tells it, once the video is open.
    VideoStart start;
    // How much of the video the run read, on the run's clock: the last frame's time and, where
    // the rate is known, that frame's own length.
    long long spanMs = 0;
    // With a detector that finds objects: the box round every object of every snapshot, in the
    // snapshots' pixels (empty for none), and the most seen at once.
    bool findsObjects = false;
    cv::Rect objectsBox;
    int mostObjects = 0;
};

// "795 frames" ("1 frame"), or, when a finished run read more than 1 % more or fewer frames than
// the container announced, "68 frames read, 444 announced": a truncated file shows, and so does a
// container whose count is simply wrong.
std::string framesText(const RunReport& report);

// Percent of frames done, truncated; -1 when that is not a percentage (no or too low a
// frame count).
int progressPercent(long long framesDone, long long frameCount);

}  // namespace pelmora
