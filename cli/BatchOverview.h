#pragma once

#include <functional>
#include <string>

#include "ClockTime.h"

// overview.html of a batch: made from what the runs left in the folders under the batch's -o
// folder (each video's record and list of events), so that the folders of several shards or
// array jobs, gathered under one, give the page a single batch would.

// Writes folder/overview.html with every clock time shown in zone; the reason it could not, or
// empty. A folder holding no finished run's record is a failure: there is nothing to show.
std::string writeBatchOverview(const std::string& folder, const pelmora::TimeZone& zone);

// What the day's digest is made of, and what becomes of it.
struct DayDigestWish {
    long long beforeMs = 0;
    long long afterMs = 0;
    std::function<bool()> stopRequested;
    bool failed = false;  // it was asked for and could not be saved; its lines say why
};

// The same, with folder/day-digest.mp4 of every event of the day (see pelmora::writeDayDigest)
// made first and linked from the page: "[path]" once saved, a line that says why not. With
// dayEvents, also folder/day-events.json (see pelmora::dayEventsJsonText).
std::string writeBatchOverview(const std::string& folder, const pelmora::TimeZone& zone,
                               DayDigestWish* digest, bool dayEvents = false);
