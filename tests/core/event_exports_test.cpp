// The events handed on to other programs: each format read back by a reader of its own, with
// the times and clock times of the events it came from.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClockTime.h"
#include "EventExports.h"
#include "FolderNames.h"
#include "TestSupport.h"
#include "TextPattern.h"

namespace {

using pelmora::ExportContent;
using pelmora::ExportFormats;
using pelmora::MotionEvent;
using testsupport::TempDir;

MotionEvent event(int number, long long startMs, long long endMs, long long snapshots) {
    MotionEvent made;
    made.number = number;
    made.startMs = startMs;
    made.endMs = endMs;
    made.snapshots = snapshots;
    made.peakPixels = 100 * number;
    made.peakFile = pelmora::snapshotFileName(startMs);
    made.pictureFile = made.peakFile;
    made.firstFrame = startMs / 40;
    made.lastFrame = endMs / 40;
    return made;
}

// Three events of a video at 25 frames a second: one of several snapshots, one of a single
// snapshot, and one past the first hour; the first frame at 08:00 of a zone two hours east.
ExportContent garden(double fps, bool clockKnown) {
    ExportContent content;
    content.facts.videoPath = "/footage/garden cam & <gate>.avi";
    content.facts.fps = fps;
    content.facts.frameSize = {320, 240};
    content.facts.threshold = 20;
    content.facts.minPixels = 10;
    if (clockKnown) {
        content.facts.start.source = pelmora::StartSource::Given;
        content.facts.start.utcMs = pelmora::civilAsUtcMs({2024, 5, 1, 6, 0, 0, 0});
        content.facts.start.zone = pelmora::TimeZone::fixed(7200);
    }
    content.eventGapMs = 2000;
    content.durationMs = 3700000;
    for (const MotionEvent& made :
         {event(1, 1040, 3000, 3), event(2, 10000, 10000, 1), event(3, 3601000, 3602480, 2)}) {
        pelmora::ExportedEvent exported{made, {}};
        for (long long ms = made.startMs; ms <= made.endMs; ms += 40) {
            if (ms == made.startMs || ms == made.endMs) {
                exported.snapshots.push_back(
                    {ms / 40, ms, 50, pelmora::snapshotFileName(ms), true, ms, false, {}});
            }
        }
        content.events.push_back(exported);
    }
    return content;
}

TEST(ExportFormats, ReadFromTheirNamesEachOnce) {
    const struct {
        const char* text;
        const char* formats;  // as exportFormatNames gives them back; "" for refused
        const char* problem;
    } rows[] = {
        {"edl", "edl", ""},
        {"json,vtt,otio,edl", "edl,otio,vtt,json", ""},
        {"vtt,json", "vtt,json", ""},
        {"", "", "\"\" is no export format"},
        {"edl,", "", "\"\" is no export format"},
        {"edl,,vtt", "", "\"\" is no export format"},
        {"EDL", "", "\"EDL\" is no export format"},
        {"csv", "", "\"csv\" is no export format"},
        {"vtt,vtt", "", "\"vtt\" is given twice"},
        {"edl vtt", "", "\"edl vtt\" is no export format"},
    };
    for (const auto& row : rows) {
        std::string problem;
        const std::optional<ExportFormats> formats = pelmora::parseExportFormats(row.text, problem);
        std::string names;
        for (const std::string& name :
             formats ? pelmora::exportFormatNames(*formats) : std::vector<std::string>{}) {
            names += (names.empty() ? "" : ",") + name;
        }
        EXPECT_EQ(names, row.formats) << row.text;
        EXPECT_EQ(problem, row.problem) << row.text;
    }
}

// The timecode "HH:MM:SS:FF" as frames at the rate; -1 for anything else.
long long framesOf(const std::string& timecode, int rate) {
    const auto parts = pelmora::TextPattern(R"((\d\d):([0-5]\d):([0-5]\d):(\d\d))").match(timecode);
    if (!parts || parts->number(4) >= rate) {
        return -1;
    }
    return ((parts->number(1) * 60LL + parts->number(2)) * 60 + parts->number(3)) * rate +
           parts->number(4);
}

// A strict reader of CMX 3600 with markers: a title, the frame code mode, then events numbered
// from 1 in order, each a cut of the auxiliary source with its source and record times equal
// and in order, its clip's name and one marker at its start. Each event as "in out name", in
// frames at the rate, or the first fault found.
std::vector<std::string> readEdl(const std::string& text, int rate) {
    std::vector<std::string> lines = testsupport::splitLines(text);
    for (std::string& line : lines) {
        line.pop_back();  // its '\n'
    }
    if (lines.size() < 2 || lines[0].rfind("TITLE: ", 0) != 0 ||
        lines[1] != "FCM: NON-DROP FRAME") {
        return {"no title and frame code mode"};
    }
    const pelmora::TextPattern edit(
        R"((\d{3})  (\S{1,8}) +(V) +(C) +(\S{11}) (\S{11}) (\S{11}) (\S{11}))");
    const pelmora::TextPattern marker(R"(\* LOC: (\S{11}) (\w+) +(.+))");
    std::vector<std::string> events;
    long long lastOut = 0;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (lines[i].empty() || (lines[i].rfind("* ", 0) == 0 && events.empty())) {
            continue;
        }
        const auto cut = edit.match(lines[i]);
        if (!cut || cut->number(1) != static_cast<int>(events.size()) + 1 ||
            i + 2 >= lines.size()) {
            return {"not an event in order: " + lines[i]};
        }
        const long long in = framesOf((*cut)[5], rate);
        const long long out = framesOf((*cut)[6], rate);
        if (in < lastOut || out <= in || (*cut)[7] != (*cut)[5] || (*cut)[8] != (*cut)[6]) {
            return {"times out of order: " + lines[i]};
        }
        lastOut = out;
        const auto at = marker.match(lines[i + 2]);
        if (lines[i + 1].rfind("* FROM CLIP NAME: ", 0) != 0 || !at || (*at)[1] != (*cut)[5]) {
            return {"no clip name and marker after " + lines[i]};
        }
        events.push_back(std::to_string(in) + " " + std::to_string(out) + " " + (*at)[3]);
        i += 2;
    }
    return events;
}

TEST(EventExports, EdlMarksEachEventForAnEditorAtTheVideosFrames) {
    const struct {
        const char* name;
        double fps;
        bool clock;
        int rate;
        std::vector<std::string> events;
    } rows[] = {
        {"25 frames a second, the clock known",
         25.0,
         true,
         25,
         {"26 76 Event 1, 2 s, 2024-05-01 08:00:01 +02:00",
          "250 251 Event 2, 0.04 s, 2024-05-01 08:00:10 +02:00",
          "90025 90063 Event 3, 1.52 s, 2024-05-01 09:00:01 +02:00"}},
        {"the rate not known: frames at 25 a second",
         0.0,
         false,
         25,
         {"26 75 Event 1, 1.961 s", "250 251 Event 2, 0.001 s", "90025 90062 Event 3, 1.481 s"}},
    };
    for (const auto& row : rows) {
        const std::string text = pelmora::edlText(garden(row.fps, row.clock));
        EXPECT_EQ(readEdl(text, row.rate), row.events) << row.name << "\n" << text;
        EXPECT_EQ(text.find("FRAME RATE IS NOT KNOWN") != std::string::npos, row.fps == 0.0)
            << row.name;
    }
}

TEST(EventExports, WebVttChaptersAreReadByTheDecodersLibraryAtTheEventsTimes) {
    TempDir dir;
    const std::string path = dir.file("events.vtt");
    testsupport::writeFile(path, pelmora::vttText(garden(25.0, true)));
    // As SubRip, which the library writes with each cue's times and text as it read them.
    const std::string read = testsupport::commandOutput(
        "ffmpeg -nostdin -v error -i " + testsupport::shellQuoted(path) + " -f srt - 2>&1");
    EXPECT_EQ(read,
              "1\n00:00:01,040 --> 00:00:03,040\nEvent 1, 2 s, 2024-05-01 08:00:01 +02:00\n\n"
              "2\n00:00:10,000 --> 00:00:10,040\nEvent 2, 0.04 s, 2024-05-01 08:00:10 +02:00\n\n"
              "3\n01:00:01,000 --> 01:00:02,520\nEvent 3, 1.52 s, 2024-05-01 09:00:01 +02:00\n\n");
    // The header names the video with its markup escaped.
    EXPECT_EQ(testsupport::splitLines(testsupport::fileBytes(path)).front(),
              "WEBVTT - garden cam &amp; &lt;gate&gt;.avi\n");
}

// What Python's own JSON reader finds in the file: the script's lines, or its error.
std::string readWithPython(const std::string& path, const std::string& script) {
    TempDir dir;
    const std::string program = dir.file("read.py");
    testsupport::writeFile(program,
                           "import json, sys\ndoc = json.load(open(sys.argv[1]))\n" + script);
    return testsupport::commandOutput("python3 " + testsupport::shellQuoted(program) + " " +
                                      testsupport::shellQuoted(path) + " 2>&1");
}

TEST(EventExports, TheJsonFilesHoldTheirSchemasFieldsForEveryEvent) {
    TempDir dir;
    const std::string events = dir.file("events.json");
    const std::string timeline = dir.file("events.otio");
    ExportContent content = garden(25.0, true);
    content.facts.findsObjects = true;
    content.events[0].event.box = {10, 20, 30, 40};
    content.events[0].event.mostObjects = 2;
    content.events[0].snapshots[0].boxes = {{10, 20, 5, 6}, {30, 40, 7, 8}};
    testsupport::writeFile(events, pelmora::eventsJsonText(content));
    testsupport::writeFile(timeline, pelmora::otioText(content));
    EXPECT_EQ(readWithPython(events, R"(
assert doc["schema"] == "pelmora-events" and doc["version"] == 1
v = doc["video"]
print(v["file"], v["width"], v["height"], v["fps"], v["duration_ms"], v["start_clock_time"])
print(doc["settings"])
for e in doc["events"]:
    print(e["event"], e["start_ms"], e["end_ms"], e["start_clock_time"], e["end_clock_time"],
          e["peak_pixels"], e["box"], e["most_objects"],
          [(s["file"], s["time_ms"], s["changed_pixels"], s["saved"], s["boxes"])
           for s in e["snapshots"]])
)"),
              "garden cam & <gate>.avi 320 240 25.0 3700000 2024-05-01T08:00:00.000+02:00\n"
              "{'detector': 'objects', 'threshold': 20, 'min_pixels': 10, 'event_gap_ms': 2000, "
              "'mask': None}\n"
              "1 1040 3000 2024-05-01T08:00:01.040+02:00 2024-05-01T08:00:03.000+02:00 100 "
              "[10, 20, 30, 40] 2 [('IMG00001040.jpg', 1040, 50, True, [[10, 20, 5, 6], [30, "
              "40, 7, 8]]), ('IMG00003000.jpg', 3000, 50, True, [])]\n"
              "2 10000 10000 2024-05-01T08:00:10.000+02:00 2024-05-01T08:00:10.000+02:00 200 "
              "None 0 [('IMG00010000.jpg', 10000, 50, True, [])]\n"
              "3 3601000 3602480 2024-05-01T09:00:01.000+02:00 2024-05-01T09:00:02.480+02:00 "
              "300 None 0 [('IMG03601000.jpg', 3601000, 50, True, []), ('IMG03602480.jpg', "
              "3602480, 50, True, [])]\n");
    // OpenTimelineIO: one track of the video as a clip, each event a marker over its frames.
    EXPECT_EQ(readWithPython(timeline, R"(
assert doc["OTIO_SCHEMA"] == "Timeline.1"
assert doc["metadata"]["pelmora"]["schema"] == "pelmora-otio"
[track] = doc["tracks"]["children"]
assert doc["tracks"]["OTIO_SCHEMA"] == "Stack.1" and track["OTIO_SCHEMA"] == "Track.1"
[clip] = track["children"]
r = clip["source_range"]
print(clip["OTIO_SCHEMA"], clip["name"], r["start_time"]["value"], r["duration"]["value"],
      r["duration"]["rate"], clip["media_reference"]["target_url"])
for m in clip["markers"]:
    t = m["marked_range"]
    print(m["OTIO_SCHEMA"], m["name"], t["start_time"]["value"], t["duration"]["value"],
          m["metadata"]["pelmora"]["start_clock_time"])
)"),
              "Clip.1 garden cam & <gate>.avi 0.0 92500.0 25.0 "
              "file:///footage/garden%20cam%20%26%20%3Cgate%3E.avi\n"
              "Marker.1 Event 1 26.0 50.0 2024-05-01T08:00:01.040+02:00\n"
              "Marker.1 Event 2 250.0 1.0 2024-05-01T08:00:10.000+02:00\n"
              "Marker.1 Event 3 90025.0 38.0 2024-05-01T09:00:01.000+02:00\n");
}

}  // namespace
