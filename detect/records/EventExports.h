#pragma once

#include <optional>
#include <string>
#include <vector>

#include "EventGrouper.h"
#include "OverviewContent.h"
#include "RunObserver.h"

namespace pelmora {

// The formats the events are handed on in, beside events.csv and from the same events: for
// video editors (CMX 3600 markers), for editors that read OpenTimelineIO, for players (WebVTT
// chapters) and for scripts (JSON).
struct ExportFormats {
    bool edl = false;
    bool otio = false;
    bool vtt = false;
    bool json = false;

    bool any() const { return edl || otio || vtt || json; }
};

// "edl,vtt": the formats named, ',' between them, each at most once; nothing, with the name
// that is none of them said in problem, otherwise.
std::optional<ExportFormats> parseExportFormats(const std::string& text, std::string& problem);
// The formats' names in their order, as parseExportFormats reads them.
std::vector<std::string> exportFormatNames(const ExportFormats& formats);

// The schemas' versions, written into every file: a reader can tell what it holds.
inline constexpr int kEventsJsonVersion = 1;
inline constexpr int kEventsOtioVersion = 1;
inline constexpr int kDayEventsVersion = 1;

// An event with the snapshots it is made of.
struct ExportedEvent {
    MotionEvent event;
    std::vector<SnapshotOutcome> snapshots;
};

// What the exports are made from: the run's facts, its events in order, and how they were
// found.
struct ExportContent {
    RunFacts facts;
    long long eventGapMs = 0;
    long long durationMs = 0;  // how much of the video the run read
    std::vector<ExportedEvent> events;
};

struct ExportFile {
    const char* name;  // in the run's folder
    std::string text;
};

// The files of the formats asked for, in their order.
std::vector<ExportFile> eventExports(const ExportFormats& formats, const ExportContent& content);

// Each event lasts to the end of its last snapshot's frame: an event of one snapshot lasts one
// frame, not no time at all. One millisecond where the rate is not known.
long long exportedEndMs(const MotionEvent& event, double fps);

// The formats, each in its own file of this folder.
std::string edlText(const ExportContent& content);
std::string vttText(const ExportContent& content);
std::string otioText(const ExportContent& content);
std::string eventsJsonText(const ExportContent& content);

// day-events.json of an overview: every video with its camera and start, and every event of
// the videos whose start is known, in clock order (ties by camera, then video), its times on
// the overview's clock. The events of a video whose start is not known stand on no clock and
// are left out; its entry says how many it has.
std::string dayEventsJsonText(const OverviewContent& content);

}  // namespace pelmora
