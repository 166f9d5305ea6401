#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "ClockTime.h"
#include "VideoStart.h"

namespace pelmora {

// The overview embeds the busiest snapshot of this many events at most, the first in time.
inline constexpr std::size_t kOverviewThumbnails = 300;
inline constexpr int kOverviewThumbnailWidth = 120;

// Footage of one camera that does not join the next: a gap, when the next starts more than
// this after the end of the footage before it.
inline constexpr long long kOverviewGapMs = 1000;

// One event of a video, as its list of events has it.
struct OverviewEvent {
    int number = 0;
    long long startMs = 0;  // in the video
    long long endMs = 0;
    long long snapshots = 0;
    long long peakPixels = 0;
    std::string peakFile;
    std::string pictureFile;  // the snapshot that shows it (see MotionEvent)
    std::string clip;         // the saved clip that shows it, or empty
};

// One video of a batch, as its folder's record and lists have it.
struct OverviewVideo {
    std::string video;   // as the batch was given it
    std::string camera;  // its lane
    // Its snapshot folder, relative to the overview's own ("" for the same folder).
    std::string folder;
    VideoStart start;
    long long spanMs = 0;  // how much of it was read, on the run's clock
    bool report = false;   // report.html is in its folder
    std::vector<OverviewEvent> events;
};

struct OverviewContent {
    std::vector<OverviewVideo> videos;
    TimeZone zone;  // the clock every time is shown on
    // The data: address of an event's picture, asked for the first
    // kOverviewThumbnails events in time order; may be empty.
    std::function<std::string(const OverviewVideo&, const OverviewEvent&)> thumbnail;
    std::string madeAt;   // when the page was made, as people read it
    bool digest = false;  // day-digest.mp4 of the day's events beside the page, linked from it
};

// The camera a video belongs to, by default: the folder it is in, or where that folder is a
// day's (2024-05-01), the one above; "" for a video given without a folder.
std::string cameraOfVideo(const std::string& videoPath);

}  // namespace pelmora
