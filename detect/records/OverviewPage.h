#pragma once

#include <string>

#include "OverviewContent.h"

namespace pelmora {

// One self-contained HTML page of a batch, as the report is of a video: the footage of every
// camera on one clock, the day as a whole and hour by hour, with its gaps and overlaps marked
// and each event a mark that links to it in its video's report; the events of all cameras in
// one list in time order, with their pictures; and the videos whose start is not
// known, apart, with their events' times in the video. Nothing is fetched and no script runs.
std::string overviewPage(const OverviewContent& content);

}  // namespace pelmora
