#include "SweepThread.h"

#include "FileOutput.h"
#include "FrameDetector.h"
#include "OptionTable.h"
#include "TextFormat.h"
#include "VideoRun.h"

class SweepThread::Host : public pelmora::RunHost {
public:
    Host(SweepThread& thread, pelmora::SweepTally& tally) : thread(thread), tally(tally) {}

    void tell(const pelmora::RunMessage& message) override {
        if (message.logKind() == pelmora::LogKind::Failure) {
            failure += QString::fromStdString(pelmora::messageLine(message)).trimmed();
        }
    }
    void progress(int percent) override {
        // A hundred updates at most: the rows are copied for each.
        if (percent != last) {
            last = percent;
            emit thread.progressed(percent, tally.rows());
        }
    }
    bool stopAfterFrame() override { return thread.stopRequested; }

    QString failure;

private:
    SweepThread& thread;
    pelmora::SweepTally& tally;
    int last = -1;
};

SweepThread::SweepThread(QObject* parent) : QThread(parent) {
    qRegisterMetaType<std::vector<pelmora::SweepRow>>();
}

SweepThread::~SweepThread() {
    requestStop();
    wait();
}

bool SweepThread::startSweep(const QString& path, const pelmora::WatchedRegion& watched,
                             std::vector<int> sizes, std::vector<pelmora::KnownMoment> known,
                             long long gapMs) {
    if (isRunning()) {
        return false;
    }
    video = path;
    region = watched;
    triggers = std::move(sizes);
    moments = std::move(known);
    eventGapMs = gapMs;
    stopRequested = false;
    start();
    return true;
}

void SweepThread::run() {
    const std::vector<pelmora::SweepSetting> settings =
        pelmora::sweepSettings(pelmora::kMinimumThreshold, pelmora::kMaximumThreshold, triggers);
    pelmora::SweepTally tally(settings, eventGapMs, moments);
    pelmora::VideoRunRequest request;
    request.run.videoPath = video.toStdString();
    request.run.watched = region;
    request.records.eventGapMs = eventGapMs;
    // The window only shows what the sweep finds: no folder is made or written.
    request.sweep = pelmora::SweepRequest{settings, moments, false, &tally};
    Host host(*this, tally);
    pelmora::FrameDetector detector;
    const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
    using Status = pelmora::RunReport::Status;
    QString failure;
    if (result.report.status == Status::OpenFailed || result.report.status == Status::Failed) {
        failure =
            host.failure.isEmpty() ? QString::fromStdString(result.report.failure) : host.failure;
    }
    emit sweepEnded(result.sweepRows, result.report.status == Status::Stopped, failure);
}
