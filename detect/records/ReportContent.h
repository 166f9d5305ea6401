#pragma once

#include <cstddef>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "EventGrouper.h"
#include "RunObserver.h"
#include "RunReport.h"
#include "Timeline.h"

namespace pelmora {

// The report embeds its thumbnails, so that the page alone can be sent; for this many events
// at most, which keeps the pictures of a long video's page to a megabyte or two.
inline constexpr std::size_t kEmbeddedThumbnails = 200;
inline constexpr int kThumbnailWidth = 160;  // at most; a narrower frame is not enlarged

// Everything the report of one run shows.
struct ReportContent {
    RunFacts facts;
    RunReport report;
    long long durationMs = 0;  // of the frames read
    long long eventGapMs = 0;
    std::vector<TimelineBucket> buckets;
    // What the chart's pixel scale must reach: the most changed pixels of the frames that were
    // compared with the video, not with the black it starts from.
    long long scalePixels = 0;
    std::vector<MotionEvent> events;
    bool clipsWanted = false;  // a column of clips, linked where saved
    std::vector<ClipOutcome> clips;
    bool digestSaved = false;          // digest.mp4 beside the page, linked from it
    std::vector<std::string> exports;  // the events for other programs, beside the page
    // The events' pictures as small JPEG data: addresses, from the first on; an empty
    // one, or none, shows a link alone.
    std::vector<std::string> thumbnails;
    // The video's first frame with the regions drawn over it, as a JPEG data: address; empty
    // where no polygon was drawn, or the frame cannot be read.
    std::string regionsPicture;
    std::string madeAt;  // when the page was made, as people read it
};

// Now, as the desktop's clock shows it, with its zone, since a page is read where it was made;
// empty where the system cannot tell.
std::string localTimeNow();

// The data: addresses of the first kEmbeddedThumbnails events' pictures, read back from
// the folder they were saved in; empty for a snapshot not saved or no longer readable.
std::vector<std::string> embeddedThumbnails(const std::vector<MotionEvent>& events,
                                            const std::string& folder);

// The first frame of the video at videoPath with shapes drawn over it, kRegionsPictureWidth
// pixels wide at most, as a JPEG in a data: address; empty when no frame can be read.
inline constexpr int kRegionsPictureWidth = 640;
std::string regionsPictureAddress(const std::string& videoPath, const RegionShapes& shapes);

// The JPEG at path as a small JPEG in a data: address, width pixels wide at most; empty when it
// cannot be read.
std::string thumbnailAddress(const std::string& path, int width,
                             const std::vector<cv::Rect>& boxes = {});

}  // namespace pelmora
