#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "KnownMoments.h"
#include "OptionTable.h"
#include "SweepCurve.h"
#include "SweepThread.h"
#include "WatchedRegion.h"

class QLabel;
class QProgressBar;
class QPushButton;

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
    // The gap that joins snapshots into events, as the main window's runs use it.
    void setEventGap(long long gapMs);
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
    long long eventGap = pelmora::option::kEventGap.windowDefault;
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
