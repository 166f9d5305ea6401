#include "RunThread.h"

#include <QElapsedTimer>
#include <utility>

#include "RecordListener.h"

namespace {

// How often what the records hold reaches the window: often enough for a live timeline, seldom
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

// Gathers what the records tell into batches for the window.
class RunThread::Listener : public pelmora::RecordListener {
public:
    explicit Listener(RunThread& thread) : thread(thread) { clock.start(); }

    void recordStarted(const pelmora::RunFacts& facts) override { emit thread.runStarted(facts); }
    void framePlotted(const pelmora::FrameMeasure& measure) override {
        batch.frames.push_back(measure);
    }
    void snapshotListed(const pelmora::SnapshotOutcome& snapshot) override {
        batch.snapshots.push_back(snapshot);
    }
    void eventGrowing(const pelmora::MotionEvent& event) override { batch.openEvent = event; }
    void eventClosed(const pelmora::MotionEvent& event) override {
        batch.closedEvents.push_back(event);
        batch.openEvent.reset();
    }
    void clipsCut(const std::vector<pelmora::ClipOutcome>& clips) override {
        flush(true);
        emit thread.clipsCut(clips);
    }
    void digestSaved(const std::string& path) override {
        flush(true);
        emit thread.digestSaved(QString::fromStdString(path));
    }

    void flush(bool now) {
        if (!now && clock.elapsed() < kBatchMs) {
            return;
        }
        clock.restart();
        if (!batch.empty()) {
            emit thread.recordsGrew(std::exchange(batch, {}));
        }
    }

private:
    RunThread& thread;
    QElapsedTimer clock;
    RecordBatch batch;
};

// Progress and the stop question, on the run's thread; the lines go where a run's lines go.
class RunThread::Host : public pelmora::RunHost {
public:
    Host(RunThread& thread, Listener& listener) : thread(thread), listener(listener) {}

    void progress(int percent) override {
        // A stopped run reports 100 as it ends; it did not get that far.
        if (!stopped && percent != lastPercent) {
            lastPercent = percent;
            emit thread.progressed(percent);
        }
    }

    void tell(const pelmora::RunMessage& message) override {
        // The error stream still hears everything, as from the command line.
        pelmora::RunHost::tell(message);
        if (message.logKind() != pelmora::LogKind::SnapshotSaved) {
            emit thread.messageSaid(message);
        }
    }

    bool stopAfterFrame() override {
        listener.flush(false);
        stopped = thread.stopRequested;
        return stopped;
    }

private:
    RunThread& thread;
    Listener& listener;
    bool stopped = false;
    int lastPercent = -1;
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

RunThread::RunThread(pelmora::FrameDetector& detector, QObject* parent)
    : QThread(parent), detector(detector) {
    qRegisterMetaType<pelmora::RunFacts>();
    qRegisterMetaType<pelmora::RunMessage>();
    qRegisterMetaType<RecordBatch>();
    qRegisterMetaType<pelmora::VideoRunResult>();
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
    Listener listener(*this);
    Host host(*this, listener);
    View view(*this);
    pelmora::VideoRunRequest request;
    request.run = {settings.videoPath, settings.outputDir, settings.threshold};
    request.run.minPixels = settings.minPixels;
    request.run.watched = settings.watched;
    request.run.detector = settings.detector;
    request.run.objects = settings.objects;
    request.run.boxes = settings.boxes;
    request.run.view = settings.detailed ? &view : nullptr;
    request.records = settings.records;
    request.earlier = settings.removeEarlier ? pelmora::EarlierSnapshots::Remove
                                             : pelmora::EarlierSnapshots::Keep;
    request.listener = &listener;
    request.stopRequested = [this] { return stopRequested.load(); };
    pelmora::IndexQuestion question;
    if (settings.index) {
        question.index = settings.index.get();
        question.snapshots = true;
        request.run.question = &question;
    }
    const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
    listener.flush(true);
    emit runEnded(result, static_cast<double>(clock.elapsed()) / 1000.0);
}
