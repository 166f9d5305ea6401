#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ClipWriter.h"
#include "CsvWriter.h"
#include "EventGrouper.h"
#include "FolderNames.h"
#include "FrameNames.h"
#include "RecordListener.h"
#include "RecordOptions.h"
#include "RunLog.h"
#include "RunObserver.h"
#include "Timeline.h"
#include "VideoDigest.h"

namespace pelmora {

// Records what a run found: it groups the snapshots into events and keeps the activity over
// time, tells a listener each row as it comes, and writes into the snapshot folder as asked:
// the list of snapshots and the list of events, a row as soon as it is known, and at the end
// the clips and the report. With
// clips, the list of events is written again once they are cut, with where each one went. A file
// that cannot be written is said once on the run's log as a failure; the run goes on. A snapshot
// of the start, against the black a video starts from, is listed (as start 1) but is no event,
// and the chart's scale is set by the frames compared with the video itself.
class RunRecorder : public RunObserver {
public:
    RunRecorder(RecordOptions options, RunLog& log);

    // Whether there is anything to write into the folder: every output brings the lists.
    bool wanted() const { return options.events; }
    // Told every row as it comes; may be null.
    void setListener(RecordListener* recordListener) { listener = recordListener; }
    // Whether a file could not be written, or not wholly.
    bool failed() const { return failure; }
    // Whether a list or the report could not be written, or not wholly, lost clips aside.
    bool listsFailed() const { return listFailure; }
    // Asked while the clips are cut and the digest made; true abandons the rest of them, which
    // count as lost.
    void setStopCheck(std::function<bool()> check) { stopCheck = std::move(check); }
    // Clips that could not be saved.
    long long clipsLost() const { return lostClips; }
    // The clips cut at the end of the run, saved or not.
    const std::vector<ClipOutcome>& clips() const { return clipOutcomes; }
    // The report of the run as recorded: one whose clips or digest a stop abandoned was stopped
    // too, since not all it was asked for is there and it is to be run again.
    void settle(RunReport& report) const;

    void runStarted(const RunFacts& facts) override;
    void frameMeasured(const FrameMeasure& measure) override;
    void snapshotDone(const SnapshotOutcome& snapshot) override;
    void runFinished(const RunReport& report) override;

private:
    void eventClosed(const MotionEvent& event);
    void writeRow(CsvWriter& file, const char* name, const std::vector<std::string>& fields);
    void fail(const char* name, const std::string& reason);
    // "[path]" of a file of the run's folder once it is saved whole.
    void saved(const char* name);
    void cutClips();
    void makeDigest(const RunReport& report);
    void rewriteEventList();
    void writeExports(long long durationMs);

    const RecordOptions options;
    RunLog& log;
    RunFacts facts;
    CsvWriter snapshots;
    CsvWriter events;
    EventGrouper grouper;
    Timeline timeline;
    std::vector<MotionEvent> closedEvents;            // for the report's table and the clips
    std::vector<SnapshotOutcome> eventSnapshots;      // for the exports that list them
    std::vector<std::string> exportsSaved;            // for the report to link
    std::vector<std::vector<std::string>> eventRows;  // to be written again with the clips
    std::vector<ClipOutcome> clipOutcomes;
    long long lostClips = 0;
    bool clipsStopped = false;
    bool digestSaved = false;
    bool digestStopped = false;
    std::string unreadableAgain;  // why the video cannot be read again for its clips
    std::function<bool()> stopCheck;
    long long lastTimeMs = 0;
    // Each frame's name, for the digest to pad its events and name its frames as the run did.
    std::optional<FrameNames> frameNames;
    bool failure = false;
    RecordListener* listener = nullptr;
    bool listFailure = false;
};

}  // namespace pelmora
