#pragma once

#include <QString>
#include <QThread>
#include <atomic>
#include <vector>

#include "KnownMoments.h"
#include "SweepTally.h"
#include "WatchedRegion.h"

// The sweep of a whole video on a thread of its own, so that the window never waits for it:
// every threshold of a run's range at each trigger size, through the core's one run of a video,
// writing nothing. What each setting has found so far comes as queued signals as the pass goes
// on, and a stop asked for comes after the current frame.
class SweepThread : public QThread {
    Q_OBJECT

public:
    explicit SweepThread(QObject* parent = nullptr);
    // Stops a sweep that still goes, and waits for it.
    ~SweepThread() override;

    // Starts a sweep; false when one is already going.
    bool startSweep(const QString& video, const pelmora::WatchedRegion& region,
                    std::vector<int> triggers, std::vector<pelmora::KnownMoment> moments,
                    long long eventGapMs);
    void requestStop() { stopRequested = true; }

signals:
    // The rows of every setting as far as the pass has come.
    void progressed(int percent, const std::vector<pelmora::SweepRow>& rows);
    // The rows at the end; failure says why the video was not read through, or is empty.
    void sweepEnded(const std::vector<pelmora::SweepRow>& rows, bool stopped,
                    const QString& failure);

protected:
    void run() override;

private:
    class Host;

    QString video;
    pelmora::WatchedRegion region;
    std::vector<int> triggers;
    std::vector<pelmora::KnownMoment> moments;
    long long eventGapMs = 0;
    std::atomic<bool> stopRequested{false};
};

Q_DECLARE_METATYPE(std::vector<pelmora::SweepRow>)
