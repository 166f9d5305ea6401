#pragma once

#include "ClipWriter.h"
#include "EventExports.h"
#include "OptionTable.h"

namespace pelmora {

// What a run records beside its snapshots.
struct RecordOptions {
    static constexpr long long kDefaultEventGapMs = option::kEventGap.scanDefault;

    bool events = false;  // snapshots.csv and events.csv
    bool report = false;  // report.html
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
    ExportFormats exports{};  // events.edl, events.otio, events.vtt, events.json

    // The report, the clips, the contact sheet, the digest and the exports are made from the
    // lists' data, so each brings the lists along.
    bool listsImplied() const { return report || clips || contactSheet || digest || exports.any(); }
    // These options with the lists written wherever another output brings them: what the
    // recorder writes, the record holds and the window's boxes show.
    RecordOptions withImplied() const {
        RecordOptions implied = *this;
        implied.events = events || listsImplied();
        return implied;
    }
};

}  // namespace pelmora
