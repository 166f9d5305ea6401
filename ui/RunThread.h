#pragma once

#include <QImage>
#include <QThread>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EventGrouper.h"
#include "OptionTable.h"
#include "RunMessage.h"
#include "RunObserver.h"
#include "VideoRun.h"
#include "WatchedRegion.h"

namespace pelmora {
class FrameDetector;
}

// What the window asks of a run; read once, when it starts.
struct RunSettings {
    std::string videoPath;
    std::string outputDir;
    int threshold = 0;
    bool detailed = false;  // frames and masks shown while it goes
    int minPixels = static_cast<int>(pelmora::option::kMinPixels.windowDefault);
    pelmora::WatchedRegion watched{};
    pelmora::RecordOptions records{};
    bool removeEarlier = false;  // the snapshots and clips an earlier run left in the folder
    pelmora::DetectorKind detector = pelmora::DetectorKind::Classic;
    pelmora::ObjectSettings objects{};
    bool boxes = false;
    // Answered from a scan's object index instead of the video, its snapshots read from the
    // video at their frames (see pelmora::IndexQuestion).
    std::shared_ptr<const pelmora::ObjectIndex> index{};
};

// What the run's records told since the last batch, in the order they hold it: the frames on
// the chart, the rows of the snapshot list, the events closed, and the event still open.
struct RecordBatch {
    std::vector<pelmora::FrameMeasure> frames;
    std::vector<pelmora::SnapshotOutcome> snapshots;
    std::vector<pelmora::MotionEvent> closedEvents;
    std::optional<pelmora::MotionEvent> openEvent;

    bool empty() const {
        return frames.empty() && snapshots.empty() && closedEvents.empty() && !openEvent;
    }
};

// A run on a thread of its own, so that the window never waits for one: a few lines over the
// core's one run of a video into its folder. Everything the run tells comes as queued signals
// in the order it happened: the facts of the video, what its records hold in batches, the
// progress, frames to show (only as fast as the window takes them), and the end. A stop asked
// for comes after the current frame.
class RunThread : public QThread {
    Q_OBJECT

public:
    // The detector's reference carries over from one run to the next; the window must not
    // touch the detector while a run goes.
    explicit RunThread(pelmora::FrameDetector& detector, QObject* parent = nullptr);
    // Stops a run that still goes, and waits for it.
    ~RunThread() override;

    // Starts a run; false when one is already going.
    bool startRun(const RunSettings& settings);
    // The run stops after the frame it is on; safe from any thread.
    void requestStop() { stopRequested = true; }
    // The window has shown the last frame it was given and takes another.
    void frameTaken() { frameInFlight = false; }

signals:
    void runStarted(const pelmora::RunFacts& facts);
    void recordsGrew(const RecordBatch& batch);
    void progressed(int percent);
    void frameShown(const QImage& frame, const QImage& mask);
    void clipsCut(const std::vector<pelmora::ClipOutcome>& clips);
    void digestSaved(const QString& path);
    // A message of the run that says what went wrong or what it worked around (its line as
    // pelmora-scan prints it is messageLine's); the saved-file messages are left out.
    void messageSaid(const pelmora::RunMessage& message);
    void runEnded(const pelmora::VideoRunResult& result, double seconds);

protected:
    void run() override;

private:
    class Host;
    class Listener;
    class View;

    pelmora::FrameDetector& detector;
    RunSettings settings;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> frameInFlight{false};
};

Q_DECLARE_METATYPE(pelmora::RunFacts)
Q_DECLARE_METATYPE(pelmora::RunMessage)
Q_DECLARE_METATYPE(RecordBatch)
Q_DECLARE_METATYPE(pelmora::VideoRunResult)
Q_DECLARE_METATYPE(std::vector<pelmora::ClipOutcome>)
