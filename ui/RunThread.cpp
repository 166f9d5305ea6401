#include "RunThread.h"

#include <QElapsedTimer>
#include <memory>

#include "RunFolder.h"

namespace {

// How often the frames' measures reach the window: often enough for a live timeline, seldom
// enough that a run of thousands of frames a second does not flood its event queue.
constexpr qint64 kBatchMs = 50;
// Frames are shown no faster than a screen refreshes.
constexpr qint64 kFrameMs = 16;

QImage copyOf(const cv::Mat& image) {
    const QImage::Format format =
        image.channels() == 3 ? QImage::Format_BGR888 : QImage::Format_Grayscale8;
    return QImage(image.data, image.cols, image.rows, static_cast<int>(image.step[0]), format)
        .copy();
}

}  // namespace

// Progress and the stop question, on the run's thread; the lines go where a run's lines go.
class RunThread::Host : public pelmora::RunHost {
public:
    explicit Host(RunThread& thread) : thread(thread) {}

    void setObserver(Observer& batches) { observer = &batches; }

    void progress(int percent) override {
        // A stopped run reports 100 as it ends; it did not get that far.
        if (!stopped && percent != lastPercent) {
            lastPercent = percent;
            emit thread.progressed(percent);
        }
    }

    bool stopAfterFrame() override;

private:
    RunThread& thread;
    Observer* observer = nullptr;
    bool stopped = false;
    int lastPercent = -1;
};

// Collects what the run found into batches for the window, and hands it to the records the
// run keeps in its folder.
class RunThread::Observer : public pelmora::RunObserver {
public:
    Observer(RunThread& thread, pelmora::RunRecorder& recorder)
        : thread(thread), recorder(recorder) {
        clock.start();
    }

    void runStarted(const pelmora::RunFacts& facts) override {
        if (recorder.wanted()) {
            recorder.runStarted(facts);
        }
        emit thread.runStarted(facts);
    }
    void frameMeasured(const pelmora::FrameMeasure& measure) override {
        if (recorder.wanted()) {
            recorder.frameMeasured(measure);
        }
        frames.push_back(measure);
    }
    void snapshotDone(const pelmora::SnapshotOutcome& snapshot) override {
        if (recorder.wanted()) {
            recorder.snapshotDone(snapshot);
        }
        snapshots.push_back(snapshot);
    }
    void runFinished(const pelmora::RunReport& report) override {
        if (recorder.wanted()) {
            recorder.runFinished(report);
        }
        flush(true);
    }

    void flush(bool now) {
        if (!now && clock.elapsed() < kBatchMs) {
            return;
        }
        clock.restart();
        if (!frames.empty()) {
            emit thread.framesMeasured(std::exchange(frames, {}));
        }
        if (!snapshots.empty()) {
            emit thread.snapshotsDone(std::exchange(snapshots, {}));
        }
    }

private:
    RunThread& thread;
    pelmora::RunRecorder& recorder;
    QElapsedTimer clock;
    std::vector<pelmora::FrameMeasure> frames;
    std::vector<pelmora::SnapshotOutcome> snapshots;
};

// Hands the window a frame and its mask only when it has shown the last one, and no faster
// than a screen refreshes: showing never slows the run.
class RunThread::View : public pelmora::FrameView {
public:
    explicit View(RunThread& thread) : thread(thread) {}

    void showFrame(const cv::Mat& frame, const cv::Mat& mask) override {
        if (thread.frameInFlight || (clock.isValid() && clock.elapsed() < kFrameMs)) {
            return;
        }
        clock.start();
        thread.frameInFlight = true;
        emit thread.frameShown(copyOf(frame), copyOf(mask));
    }

private:
    RunThread& thread;
    QElapsedTimer clock;
};

bool RunThread::Host::stopAfterFrame() {
    observer->flush(false);
    stopped = thread.stopRequested;
    return stopped;
}

RunThread::RunThread(pelmora::FrameDetector& detector, QObject* parent)
    : QThread(parent), detector(detector) {
    qRegisterMetaType<pelmora::RunFacts>();
    qRegisterMetaType<std::vector<pelmora::FrameMeasure>>();
    qRegisterMetaType<std::vector<pelmora::SnapshotOutcome>>();
    qRegisterMetaType<pelmora::RunReport>();
    qRegisterMetaType<std::vector<pelmora::ClipOutcome>>();
}

RunThread::~RunThread() {
    requestStop();
    wait();
}

bool RunThread::startRun(const RunSettings& runSettings) {
    if (isRunning()) {
        return false;
    }
    settings = runSettings;
    stopRequested = false;
    frameInFlight = false;
    start();
    return true;
}

void RunThread::run() {
    QElapsedTimer clock;
    clock.start();
    pelmora::RunRequest request{settings.videoPath, settings.outputDir, settings.threshold};
    request.minPixels = settings.minPixels;
    request.watched = settings.watched;
    Host host(*this);
    pelmora::RunRecorder recorder(settings.records, host);
    recorder.setStopCheck([this] { return stopRequested.load(); });
    Observer observer(*this, recorder);
    host.setObserver(observer);
    View view(*this);
    request.observer = &observer;
    if (settings.detailed) {
        request.view = &view;
    }
    // Held until the lists and report are written, so that no other run mixes its own in.
    pelmora::FolderLock lock;
    pelmora::EarlierRun earlier;
    request.folderReady = [&](const std::string& dir) {
        return pelmora::readyFolder(dir, settings.removeEarlier, lock, earlier, host);
    };
    pelmora::RunReport report = pelmora::runDetection(detector, request, host);
    recorder.settle(report);
    pelmora::tellEarlierSnapshots(report.outputDir, earlier, host);
    if (!recorder.clips().empty()) {
        emit clipsCut(recorder.clips());
    }
    emit runEnded(report, static_cast<double>(clock.elapsed()) / 1000.0);
}
