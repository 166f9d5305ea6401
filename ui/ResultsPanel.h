#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "RunThread.h"

class EventList;
class QLabel;
class QPushButton;
class SnapshotViewer;
class TimelineView;

// What a run found, while it goes on and after: the activity over time, the events as they
// close, the snapshots of the chosen event or moment, and buttons that open the run's folder
// and report. It shows what the run's records hold, as the records tell it (see RecordBatch),
// so that its events are row for row those of the run's list of events. Every call comes on
// the GUI thread.
class ResultsPanel : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit ResultsPanel(QWidget* parent = nullptr);

    // Forgets the previous run.
    void beginRun(const pelmora::RunFacts& facts, long long eventGapMs);
    // What the run's records told since the last batch.
    void addRecords(const RecordBatch& batch);
    // A run that never started: nothing of the run before it stays on show, and the reason
    // takes the place of its summary.
    void clearRun(const QString& reason);
    // reportPath is empty when the run wrote no report.
    void finishRun(const pelmora::RunReport& report, const QString& reportPath);
    // The run's clips, once they are cut: the chosen event's plays with the desktop's player.
    // Clips cut again later replace those of the same events.
    void setClips(const std::vector<pelmora::ClipOutcome>& clips);
    const std::vector<pelmora::ClipOutcome>& currentClips() const { return clips; }
    // The run's digest, once it is saved: it plays with the desktop's player.
    void setDigest(const QString& path);
    // The events of the last run, in their order.
    std::vector<pelmora::MotionEvent> events() const;

    // How the folder and the report are opened: by the desktop's own programs unless set.
    void setUrlOpener(UrlOpener opener);

    // Shows the snapshot of the run nearest that moment, with the rest of its event.
    void showMoment(long long ms);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A moment chosen on the timeline.
    void momentChosen(long long ms);
    // The desktop would not open the folder, the report or a clip.
    void openFailed(const QString& text);

private:
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    void showEventOfRow(int row);
    void showRange(Range range, std::size_t at);
    // The snapshots listed from frame first to frame last.
    Range rangeOfFrames(long long first, long long last) const;
    Range rangeOfRow(int row) const;
    // What the run has found so far, or in all once its report is given.
    void showSummary(const pelmora::RunReport* report);
    void open(const QString& path);
    // The saved clip of the chosen event, or nothing.
    QString clipOfChosenEvent() const;
    void updateClipButton();
    // Why the chosen event has no clip to play.
    QString whyNoClip() const;

    TimelineView* timeline;
    EventList* eventList;
    SnapshotViewer* viewer;
    QLabel* summary;
    QPushButton* openFolderButton;
    QPushButton* openReportButton;
    QPushButton* playClipButton;
    QPushButton* playDigestButton;
    UrlOpener opener;
    std::vector<pelmora::ClipOutcome> clips;

    pelmora::RunFacts facts;
    // Every row of the run's list of snapshots, in frame order.
    std::vector<pelmora::SnapshotOutcome> snapshots;
    std::optional<pelmora::MotionEvent> openEvent;
    bool running = false;
    QString reportPath;
    QString digestPath;
};
