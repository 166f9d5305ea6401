#pragma once

#include <optional>
#include <string>

// Every name a run leaves in its snapshot folder, made and recognised here alone: what one run
// writes, another run, --clean, --resume and a join must know again.

namespace pelmora {

// The lists, the report and the record a finished run leaves beside its snapshots.
inline constexpr const char* kSnapshotListName = "snapshots.csv";
inline constexpr const char* kEventListName = "events.csv";
inline constexpr const char* kReportName = "report.html";
inline constexpr const char* kRunRecordName = ".pelmora-run.json";
// The events' busiest snapshots in a grid, asked for beside the lists.
inline constexpr const char* kContactSheetName = "contact.jpg";
// The events at their own speed and the quiet between them flown through, in one video.
inline constexpr const char* kDigestName = "digest.mp4";
// The events handed on to other programs, as asked for.
inline constexpr const char* kEdlExportName = "events.edl";
inline constexpr const char* kOtioExportName = "events.otio";
inline constexpr const char* kVttExportName = "events.vtt";
inline constexpr const char* kJsonExportName = "events.json";
// The page of a whole batch, in the folder that holds its videos' folders, and the digest of
// every event of its day beside it. That folder is also the snapshot folder of a batch of one
// video, so the day's digest never takes the name of the video's own.
inline constexpr const char* kOverviewName = "overview.html";
inline constexpr const char* kDayDigestName = "day-digest.mp4";
// Every event of the batch's day with its camera, in clock order, for scripts.
inline constexpr const char* kDayEventsName = "day-events.json";

// What a sweep of every setting leaves: its table and, asked for, its page. No run removes
// them: they stay beside the snapshots of the setting chosen from them.
inline constexpr const char* kSweepTableName = "sweep.csv";
inline constexpr const char* kSweepReportName = "sweep.html";

// Every object the objects detector's scene held, frame by frame, for searches of the run (see
// ObjectIndex); and the folder a search named NAME writes into, beside the run's files.
inline constexpr const char* kObjectIndexName = "objects.idx";
inline constexpr const char* kSearchFolderPrefix = "search-";

// The file a run holds its folder by, while it runs.
inline constexpr const char* kFolderLockName = ".pelmora.lock";

// What a stretch of a split video leaves in its own folder for the join: its record (written
// last, so that a stretch without one is not finished), every frame's measure, and the
// reference it ended with.
inline constexpr const char* kSegmentRecordName = ".pelmora-segment";
inline constexpr const char* kSegmentFramesName = ".pelmora-segment-frames";
inline constexpr const char* kSegmentReferenceName = ".pelmora-segment-reference.ppm";

// Where a join makes the one run's files before they go into the folder, and the list, written
// once they are all made, of what goes where.
inline constexpr const char* kJoinStagingName = ".pelmora-join";
inline constexpr const char* kJoinReadyName = ".pelmora-join-ready";

// The last part of a path: the file's name.
std::string fileNameOf(const std::string& path);

// Directory and file name joined by exactly one '/'. An empty directory means the current
// one: joining would otherwise point at the filesystem root.
std::string joinPath(const std::string& directory, const std::string& fileName);

// The digits of the names of one run: eight, or as many as the longest time of the video
// needs (nine from 100,000,000 ms, 27.8 hours, on), so that every name of a run has as many
// digits and they sort in the order of their times.
int snapshotDigits(long long longestMs);

// "IMG" and the time in whole milliseconds, zero-padded to digits. Plain digits at every
// length keep names distinct past 1,000,000 ms.
std::string snapshotFileName(long long milliseconds, int digits = 8);

// Whether name is one that snapshotFileName or SnapshotNamer gives: "IMG", at least eight
// digits, an optional "-2", "-3", ... and ".jpg".
bool isSnapshotFileName(const std::string& name);

// Whether name is the temporary file (see temporaryPath) of a snapshot still being written,
// or left by a process that died writing it.
bool isSnapshotTemporaryName(const std::string& name);

// Names the snapshots of one run. Above 1,000 frames per second two frames can fall in the
// same millisecond; the later ones get "-2", "-3", ... before ".jpg", so that nothing is
// overwritten within a run. Frame times never go back within a run, so a name can only repeat
// the one before it.
class SnapshotNamer {
public:
    explicit SnapshotNamer(int digits = 8) : digits(digits) {}

    std::string next(long long milliseconds);

private:
    int digits;
    long long lastMilliseconds = -1;
    int uses = 0;
};

// "EVENT", the event's number in at least four digits, and the extension with its dot.
std::string clipFileName(int event, const std::string& extension);

// Whether name is one clipFileName gives, or the temporary file of one.
bool isClipFileName(const std::string& name);
bool isClipTemporaryName(const std::string& name);

// The temporary name under which path is written: hidden, beside it, and distinct for each
// process.
std::string temporaryPath(const std::string& path);

// The file name that a temporary file name from temporaryPath stands in for, or nothing when
// fileName is none.
std::optional<std::string> temporaryTarget(const std::string& fileName);

// Whether name is a file that a run writes into its folder besides the snapshots: its lists,
// report, contact sheet, digest and record, and a stretch's record, measures and reference.
bool isRunFileName(const std::string& name);

// The folder of stretch K of N inside a video's snapshot folder, and back: the name only.
std::string segmentFolder(const std::string& folder, int index, int count);
bool parseSegmentFolderName(const std::string& name, int& index, int& count);

}  // namespace pelmora
