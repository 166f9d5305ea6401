#pragma once

#include <QString>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <functional>
#include <vector>

#include "KnownMoments.h"
#include "SweepTally.h"
#include "WatchedRegion.h"

class QLabel;
class QProgressBar;
class QPushButton;

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

// Snapshots (solid) and events (dashed) by threshold at one trigger size, on a logarithmic
// scale, with the threshold chosen marked; a click picks the threshold under it.
class SweepCurve : public QWidget {
    Q_OBJECT

public:
    explicit SweepCurve(QWidget* parent = nullptr);

    void setRows(const std::vector<pelmora::SweepRow>& rows);
    void setTrigger(int trigger);
    void setThreshold(int threshold);
    // The counts drawn for threshold at the trigger size: snapshots and events, or -1 each
    // where the sweep has no such setting.
    std::pair<long long, long long> countsAt(int threshold) const;
    // Where the point of threshold lies across the widget, for a click on it.
    int xOf(int threshold) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void thresholdClicked(int threshold);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QRect plotArea() const;
    int thresholdAt(int x) const;

    std::vector<pelmora::SweepRow> rows;
    int trigger = 0;
    int threshold = 0;
};

// The Tune window's view of a whole video: the sweep of every threshold, drawn as it fills in,
// the moments the user marks as holding motion, and the setting suggested from them.
class SweepView : public QWidget {
    Q_OBJECT

public:
    explicit SweepView(QWidget* parent = nullptr);
    ~SweepView() override;

    // A new video forgets the sweep of the last one and its marks; the same one keeps them.
    void setVideo(const QString& path);
    void setWatchedRegion(const pelmora::WatchedRegion& region);
    void setTrigger(int trigger);
    void setThreshold(int threshold);
    // Where "Mark moment" marks, in milliseconds into the video.
    void setPositionSource(std::function<double()> positionMs);

    void startSweep();
    void stopSweep();
    bool sweeping() const;

    // Marks a second around the position as holding motion.
    void markMoment();
    const std::vector<pelmora::KnownMoment>& moments() const { return marks; }
    // False with the reason when the file cannot be written or read (or is no moments file).
    bool saveMoments(const QString& path, QString* error);
    bool loadMoments(const QString& path, QString* error);

    const std::vector<pelmora::SweepRow>& rows() const { return swept; }

signals:
    void thresholdPicked(int threshold);
    // The sweep ended, finished or not.
    void sweepFinished();

private:
    void showRows(const std::vector<pelmora::SweepRow>& rows);
    void showMarks();
    void showSuggestion();
    void setRunning(bool running);

    SweepThread thread;
    QString video;
    pelmora::WatchedRegion region;
    int trigger = 0;
    std::function<double()> positionMs;
    std::vector<pelmora::KnownMoment> marks;
    // The marks the rows were tallied with: a change of marks needs another sweep.
    std::vector<pelmora::KnownMoment> sweptMarks;
    std::vector<pelmora::SweepRow> swept;
    bool running = false;

    SweepCurve* curve = nullptr;
    QPushButton* sweepButton = nullptr;
    QPushButton* stopButton = nullptr;
    QProgressBar* progress = nullptr;
    QLabel* countsLine = nullptr;
    QLabel* suggestionLine = nullptr;
    QPushButton* markButton = nullptr;
    QLabel* marksLine = nullptr;
    QPushButton* saveButton = nullptr;
    QPushButton* loadButton = nullptr;
};
