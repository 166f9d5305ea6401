#pragma once

#include "ClipWriter.h"
#include "OptionTable.h"

namespace pelmora {

// What a run records beside its snapshots.
struct RecordOptions {
    static constexpr long long kDefaultEventGapMs = option::kEventGap.scanDefault;

    bool events = false;  // snapshots.csv and events.csv
    bool report = false;  // report.html, and the two lists with it
    long long eventGapMs = kDefaultEventGapMs;
    bool clips = false;  // a clip of each event, cut once the run has finished
    ClipMode clipMode = ClipMode::Copy;
    long long clipBeforeMs = option::kBefore.scanDefault;
    long long clipAfterMs = option::kAfter.scanDefault;
    bool contactSheet = false;  // contact.jpg: the events' busiest snapshots in a grid
    // digest.mp4: the events at their speed, from clipBeforeMs to clipAfterMs around each, and
    // the quiet between them one frame in digestSpeed.
    bool digest = false;
    long long digestSpeed = option::kDigestSpeed.scanDefault;
};

}  // namespace pelmora
