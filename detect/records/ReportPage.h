#pragma once

#include <string>

#include "ReportContent.h"

namespace pelmora {

// The report of a run as one self-contained HTML page, to be saved in the snapshot folder: a
// header with the video and the run's settings and counts, the timeline chart, and a table of
// the events with each one's picture shown small, linking to the file beside the page,
// links to the two lists, and the program's version and the time it was made. Styles, the
// chart and the thumbnails are inline; nothing is fetched from elsewhere, no script runs, and
// the page prints. Every text that comes from a path is escaped.
std::string reportPage(const ReportContent& content);

}  // namespace pelmora
