#pragma once

#include <string>
#include <vector>

namespace pelmora {

// What an option takes after its name.
enum class OptionValue {
    None,     // nothing: a flag
    Text,     // a path, a list or a share, checked where it is used
    Count,    // a whole number from minimum to maximum
    Seconds,  // seconds to the millisecond, from minimum to maximum milliseconds
    Choice,   // one of choices, the first being the default unless defaultText says otherwise
};

// One setting as both front ends offer it: pelmora-scan's option, and where the window has the
// same setting, its widget. Help is what the option does; its range and default are added to it
// from the numbers here, so that no text can state other limits than those enforced.
struct OptionEntry {
    const char* name = "";       // the long name, without its dashes
    char shortName = '\0';       // '\0': none
    const char* valueName = "";  // what the help calls the value; empty for a flag
    OptionValue value = OptionValue::None;
    const char* help = "";
    // Count, and Seconds in milliseconds: the values taken, the default of each front end, and
    // the step of a spin box's arrows. The defaults differ only where the window's own
    // design says so.
    long long minimum = 0;
    long long maximum = 0;
    long long scanDefault = 0;
    long long windowDefault = 0;
    long long windowStep = 1;
    // Said as the default instead of scanDefault, which then stands for no value given.
    const char* defaultText = nullptr;
    const char* choices[3] = {nullptr, nullptr, nullptr};
    // Text that holds values of another option (a list of them, or a range T1:T2): the help
    // ends with that option's limits, and its default or, with wholeRange, all of its range.
    const OptionEntry* valuesOf = nullptr;
    bool wholeRange = false;

    // The same setting with another default in the window.
    constexpr OptionEntry inTheWindow(long long value) const {
        OptionEntry entry = *this;
        entry.windowDefault = value;
        return entry;
    }
    // Text of values of another option, as said above.
    constexpr OptionEntry ofValuesOf(const OptionEntry& other, bool all) const {
        OptionEntry entry = *this;
        entry.valuesOf = &other;
        entry.wholeRange = all;
        return entry;
    }
    // The same setting whose default is no value of its range, but what text says.
    constexpr OptionEntry saidAsDefault(const char* text) const {
        OptionEntry entry = *this;
        entry.defaultText = text;
        return entry;
    }
};

namespace optionkind {

constexpr OptionEntry flag(const char* name, char shortName, const char* help) {
    OptionEntry entry;
    entry.name = name;
    entry.shortName = shortName;
    entry.help = help;
    return entry;
}

constexpr OptionEntry text(const char* name, char shortName, const char* valueName,
                           const char* help) {
    OptionEntry entry = flag(name, shortName, help);
    entry.valueName = valueName;
    entry.value = OptionValue::Text;
    return entry;
}

constexpr OptionEntry count(const char* name, char shortName, const char* help, long long minimum,
                            long long maximum, long long byDefault) {
    OptionEntry entry = text(name, shortName, "N", help);
    entry.value = OptionValue::Count;
    entry.minimum = minimum;
    entry.maximum = maximum;
    entry.scanDefault = byDefault;
    entry.windowDefault = byDefault;
    return entry;
}

constexpr OptionEntry seconds(const char* name, const char* help, long long maximumMs,
                              long long defaultMs, long long stepMs) {
    OptionEntry entry = count(name, '\0', help, 0, maximumMs, defaultMs);
    entry.valueName = "SECONDS";
    entry.value = OptionValue::Seconds;
    entry.windowStep = stepMs;
    return entry;
}

constexpr OptionEntry choice(const char* name, const char* valueName, const char* help,
                             const char* byDefault, const char* other) {
    OptionEntry entry = text(name, '\0', valueName, help);
    entry.value = OptionValue::Choice;
    entry.choices[0] = byDefault;
    entry.choices[1] = other;
    return entry;
}

// Three choices, none of them taken when the option is not given: what is then done is
// defaultText.
constexpr OptionEntry choiceOfThree(const char* name, const char* valueName, const char* help,
                                    const char* first, const char* second, const char* third,
                                    const char* byDefault) {
    OptionEntry entry = choice(name, valueName, help, first, second);
    entry.choices[2] = third;
    entry.defaultText = byDefault;
    return entry;
}

}  // namespace optionkind

// Every option of pelmora-scan, and with them the settings the window shares.
namespace option {

inline constexpr OptionEntry kThreshold =
    optionkind::count("threshold", 't', "a colour difference above N counts as change", 0, 50, 20)
        // The window opens with its slider at 0, as it always has.
        .inTheWindow(0);
inline constexpr OptionEntry kOutput = optionkind::text(
    "output", 'o', "DIR",
    "save the snapshots in DIR, created with its parents if missing; with several videos, in "
    "DIR/NAME for each video's file NAME (default: the video's path without its extension)");
inline constexpr OptionEntry kJobs =
    optionkind::count("jobs", 'j', "write snapshots on N threads; any N gives the same files", 1,
                      64, 0)
        .saidAsDefault("one for each processor, shared by the videos at once");
// The most a batch may be asked to run at once: more runs than this would hold more memory than
// they could keep processors busy on any machine the program meets.
inline constexpr OptionEntry kVideosAtOnce =
    optionkind::count("videos-at-once", '\0',
                      "scan N videos of a batch at once, never more than it has; any N gives the "
                      "same files, lines and summaries, in the same order",
                      1, 64, 0)
        .saidAsDefault("one for each processor");
inline constexpr OptionEntry kQuiet =
    optionkind::flag("quiet", 'q', "print neither progress nor the path of each snapshot");
inline constexpr OptionEntry kVerbose =
    optionkind::flag("verbose", '\0', "also show the video decoder's own messages");
inline constexpr OptionEntry kEvents = optionkind::flag(
    "events", '\0',
    "also list the snapshots and the events (runs of snapshots close in time) in snapshots.csv "
    "and events.csv in each snapshot folder, a row at a time");
inline constexpr OptionEntry kEventGap = optionkind::seconds(
    "event-gap", "snapshots no more than SECONDS apart belong to one event", 86400000, 2000, 500);
inline constexpr OptionEntry kReport = optionkind::flag(
    "report", '\0',
    "also write report.html in each snapshot folder: a timeline of the changed pixels and a "
    "table of the events (implies --events)");
inline constexpr OptionEntry kClips = optionkind::choice(
    "clips", "[MODE]",
    "also save each event as a video in the snapshot folder, EVENT0001 and on, from --before to "
    "--after around it, events that overlap sharing one (implies --events); copy keeps every "
    "stream as it is, in the video's own format where it takes them (EVENT0001.avi for an AVI) "
    "and else in Matroska (.mkv), starts at the keyframe before, and encodes a clip it cannot "
    "copy whole; encode cuts exactly, as H.264 in MP4",
    "copy", "encode");
inline constexpr OptionEntry kBefore = optionkind::seconds(
    "before", "start each clip SECONDS before its event's first snapshot", 3600000, 2000, 500);
inline constexpr OptionEntry kAfter = optionkind::seconds(
    "after", "end each clip SECONDS after its event's last snapshot", 3600000, 2000, 500);
inline constexpr OptionEntry kMask = optionkind::text(
    "mask", '\0', "FILE",
    "count change only where the picture FILE is white, scaled to the video's size if it "
    "differs (default: the whole frame)");
inline constexpr OptionEntry kRegion = optionkind::text(
    "region", '\0', "POLYGON",
    "count change only inside the polygon \"x,y x,y x,y ...\", in the video's pixels from 0,0 at "
    "its top left (a pixel on the edge is inside); given again, inside any of them. With "
    "--detector objects, an object counts where it stands: the middle of its box's lower edge");
inline constexpr OptionEntry kExclude = optionkind::text(
    "exclude", '\0', "POLYGON",
    "leave the inside of the polygon out, as --region writes it; given again, of each. The "
    "objects detector does not learn the scene there");
inline constexpr OptionEntry kRegionFile = optionkind::text(
    "region-file", '\0', "FILE",
    "the polygons of FILE, one a line as --region writes them, kept unless the line starts with "
    "\"exclude\" (# starts a comment); the window saves and loads the same files");
inline constexpr OptionEntry kMinPixels = optionkind::count(
    "min-pixels", '\0',
    "save a frame when more than N pixels changed in its busiest colour channel", 0, 100000000, 10);
inline constexpr OptionEntry kDetector = optionkind::choice(
    "detector", "NAME",
    "which detector decides what is saved: classic, a frame that differs enough from the last "
    "snapshot, or objects, for camera footage: what lasts and travels against a background "
    "learnt over seconds, with light, shake, rain and swaying leaves explained away",
    "classic", "objects");
inline constexpr OptionEntry kMinObject = optionkind::text(
    "min-object", '\0', "SIZE",
    "with --detector objects: the least object, a share of the picture (0.05%, the default) or "
    "a number of the video's pixels (400)");
inline constexpr OptionEntry kMinDuration = optionkind::seconds(
    "min-duration", "with --detector objects: an object counts once it has lasted SECONDS", 60000,
    400, 100);
inline constexpr OptionEntry kBoxes = optionkind::flag(
    "boxes", '\0', "with --detector objects: draw each object's box on the snapshots too");
inline constexpr OptionEntry kClock = optionkind::choice(
    "clock", "CLOCK",
    "name the snapshots by index, the frame's number over the frame rate, or by stream, the "
    "frame's presentation time, which suits variable-rate videos such as a phone's",
    "index", "stream");
inline constexpr OptionEntry kList = optionkind::text(
    "list", '\0', "FILE",
    "also scan the videos listed in FILE, one path a line ('-': the standard input; blank "
    "lines and lines starting with # are skipped)");
inline constexpr OptionEntry kShard = optionkind::text(
    "shard", '\0', "K/N",
    "scan only share K of N (0 <= K < N): the videos at positions K, K + N, K + 2N, ... of the "
    "sorted list without repeats, so that N processes split a batch without talking to each "
    "other (default: every video, in the order given)");
inline constexpr OptionEntry kResume = optionkind::flag(
    "resume", '\0',
    "skip each video whose record (.pelmora-run.json in its snapshot folder) says it was "
    "scanned to its end with the same settings; scan the others from the start, removing the "
    "snapshots of an unfinished run first");
inline constexpr OptionEntry kClean = optionkind::flag(
    "clean", '\0',
    "remove the snapshots and clips of earlier runs from each snapshot folder before scanning "
    "into it (IMG*.jpg and EVENT*.* files only, with the lists, report, record and temporary "
    "files runs leave); without it they stay, and a line says how many there are");
inline constexpr OptionEntry kSummary = optionkind::choice(
    "summary", "FORMAT", "text, or json: one JSON object per video on the standard output", "text",
    "json");
inline constexpr OptionEntry kSegment = optionkind::text(
    "segment", '\0', "K/N",
    "scan only stretch K of N (0 <= K < N) of the one VIDEO, N stretches of equal frame count, "
    "into a folder of its own inside the snapshot folder, for --join to make one run's files "
    "of; a video whose frames cannot be told exactly after a seek is left for --join to scan "
    "as one run");
inline constexpr OptionEntry kJoin = optionkind::text(
    "join", '\0', "DIR",
    "make of the stretches that --segment scanned into the snapshot folder DIR exactly the "
    "files one run would have left there, scanning again only where a stretch's start changed "
    "what it found; give the options the stretches were scanned with; stretch files changed "
    "since are refused, a join that fails or is stopped leaves DIR as it was, and one killed "
    "part-way is taken up by the next");
inline constexpr OptionEntry kSweep =
    optionkind::text(
        "sweep", '\0', "[T1:T2]",
        "instead of saving snapshots, find in one pass what every threshold from T1 to T2 (T "
        "alone: "
        "that threshold) would give at each --sweep-triggers size, exactly as a run of each: write "
        "the snapshots, events and times of each setting to sweep.csv in the snapshot folder (and "
        "sweep.html with their chart with --report), print a table and a suggested setting; no "
        "snapshot is saved and the folder's other files stay")
        .ofValuesOf(kThreshold, true);
inline constexpr OptionEntry kSweepTriggers =
    optionkind::text("sweep-triggers", '\0', "N,N,...",
                     "the trigger sizes (as --min-pixels) that --sweep tries")
        .ofValuesOf(kMinPixels, false);
inline constexpr OptionEntry kFrom = optionkind::text(
    "from", '\0', "TIME",
    "with --sweep: sweep from the first frame at or after TIME, in seconds or HH:MM:SS.mmm, as "
    "if the video started there (its first frame compared with black); the times in sweep.csv "
    "stay the video's own (default: its first frame)");
inline constexpr OptionEntry kTo = optionkind::text(
    "to", '\0', "TIME",
    "with --sweep: sweep up to the last frame at or before TIME, in seconds or HH:MM:SS.mmm "
    "(default: its last frame)");
inline constexpr OptionEntry kExpect = optionkind::text(
    "expect", '\0', "FILE",
    "with --sweep: the moments known to hold motion, one a line as start,end in seconds or "
    "HH:MM:SS.mmm (# starts a comment); sweep.csv then says how many each setting finds and "
    "its snapshots outside them, and the suggestion is the setting that finds the most with "
    "the fewest snapshots outside");
inline constexpr OptionEntry kDigest = optionkind::flag(
    "digest", '\0',
    "also save digest.mp4 in each snapshot folder: every event at its real speed from "
    "--before to --after around it, the quiet between them sped up (see --digest-speed), the "
    "time in the video in a corner; H.264, no sound; implies --events. With an overview, also "
    "a day-digest.mp4 beside it of every event of the day, in clock order");
inline constexpr OptionEntry kDigestSpeed = optionkind::count(
    "digest-speed", '\0', "how many times faster the digest plays the quiet between events", 1,
    100000, 60);
inline constexpr OptionEntry kContactSheet = optionkind::flag(
    "contact-sheet", '\0',
    "also save contact.jpg in each snapshot folder: the busiest snapshot of each event in a grid, "
    "with its time in the video and its clock time where known; the events are listed too");
inline constexpr OptionEntry kExport = optionkind::text(
    "export", '\0', "FORMAT,...",
    "also hand the events on to other programs, in each snapshot folder beside events.csv: edl, "
    "events.edl, markers for video editors (CMX 3600); otio, events.otio, an OpenTimelineIO "
    "timeline; vtt, events.vtt, WebVTT chapters for players; json, events.json, every event "
    "with its snapshots and the settings, for scripts, and with an overview day-events.json, "
    "every event of the day in clock order; implies --events");
inline constexpr OptionEntry kStartTime = optionkind::text(
    "start-time", '\0', "TIME",
    "the clock time of the one VIDEO's first frame, in ISO 8601: 2024-05-01T08:00:00, with an "
    "offset (+02:00, Z) or else a time of --time-zone; it comes before the name and the "
    "creation time");
inline constexpr OptionEntry kStartFrom = optionkind::choiceOfThree(
    "start-from", "SOURCE",
    "where the clock time of each video's first frame comes from: name, the date and time in "
    "the file's name (or its folder's date and its name's time), metadata, the container's "
    "creation time, or none; with a clock time known, the lists gain a clock_time column",
    "name", "metadata", "none", "the name, else metadata");
inline constexpr OptionEntry kTimeZone = optionkind::text(
    "time-zone", '\0', "ZONE",
    "the zone of the times in file names and of every clock time written: a name such as "
    "Europe/Berlin or UTC, or an offset such as +02:00 (default: the machine's)");
inline constexpr OptionEntry kOverview = optionkind::flag(
    "overview", '\0',
    "also write overview.html in the -o folder once the batch is done: every camera's footage "
    "and events on one clock, read from the folders' lists and records; each video gets its report "
    "too");
inline constexpr OptionEntry kOverviewFrom = optionkind::text(
    "overview-from", '\0', "DIR",
    "write DIR/overview.html of a finished batch whose -o folder was DIR, from the lists and "
    "records of the snapshot folders below it (those of every shard, say); scans nothing");
inline constexpr OptionEntry kSearch = optionkind::text(
    "search", '\0', "DIR",
    "answer a question from the object index (objects.idx) that --detector objects left in DIR, "
    "or in each snapshot folder below a batch's DIR, without decoding again: the events of "
    "--region, --region-file, --min-object, --min-duration, --event-gap and --between, exactly "
    "as a scan with them, into DIR/search-NAME");
inline constexpr OptionEntry kSearchName =
    optionkind::text("name", '\0', "NAME",
                     "with --search: the NAME of its folder (default: one made of the question)");
inline constexpr OptionEntry kBetween = optionkind::text(
    "between", '\0', "START END",
    "with --search: only the frames whose clock time lies from START to END, each in ISO 8601 "
    "(2024-05-01T14:00:00, an offset or else a time of --time-zone) or a time of day (14:00) on "
    "the day each video starts");
inline constexpr OptionEntry kSnapshots = optionkind::flag(
    "snapshots", '\0',
    "with --search: also save the snapshots' pictures, read from the video at their frames");
inline constexpr OptionEntry kHelp = optionkind::flag("help", 'h', "show this help");
inline constexpr OptionEntry kVersion = optionkind::flag("version", '\0', "show the version");

}  // namespace option

// The thresholds a run takes, as the window's slider and pelmora-scan both offer them, so that a
// threshold found to suit a camera in one can be used in the other.
constexpr int kMinimumThreshold = static_cast<int>(option::kThreshold.minimum);
constexpr int kMaximumThreshold = static_cast<int>(option::kThreshold.maximum);

// pelmora-scan's options in the order its help lists them: those that change what a scan does
// first, help and version last.
const std::vector<const OptionEntry*>& scanOptionTable();

// "-t, --threshold N", "--quiet", "--clips [MODE]": the option's names and value.
std::string optionNames(const OptionEntry& entry);

// The help text with the range and default, where the option has them: "a colour difference
// above N counts as change (0..50, default 20)".
std::string optionHelp(const OptionEntry& entry);

// A value of a Count or Seconds option as the command line takes it: "20", "2", "0.5",
// "1.025".
std::string optionValueText(const OptionEntry& entry, long long value);
// Which of entry's choices word is: 0 for the first, -1 for none of them.
int choiceIndex(const OptionEntry& entry, const std::string& word);

}  // namespace pelmora
