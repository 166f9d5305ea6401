#pragma once

#include <string>
#include <vector>

#include "EventGrouper.h"
#include "VideoStart.h"

namespace pelmora {

// A sheet shows this many events at most, the first in time, so that it stays one printable
// picture however busy the video; the heading says how many more there were.
inline constexpr std::size_t kContactSheetEvents = 120;
inline constexpr int kContactSheetColumns = 4;
inline constexpr int kContactSheetCellWidth = 320;

// contact.jpg in folder: the busiest snapshot of each event in a grid, in time order, each
// under its number, its time in the video and, where the start is known, its clock time; the
// reason it could not be written, or empty. An event whose snapshot is not saved or can no
// longer be read keeps its place with its times on grey.
std::string writeContactSheet(const std::vector<MotionEvent>& events, const std::string& folder,
                              const std::string& title, const VideoStart& start);

}  // namespace pelmora
