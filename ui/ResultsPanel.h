#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <vector>

#include "ClipWriter.h"
#include "DetectionRun.h"
#include "EventGrouper.h"
#include "RunObserver.h"

class EventList;
class QLabel;
class QPushButton;
class SnapshotViewer;
class TimelineView;

// What a run found, while it goes on and after: the activity over time, the events as they
// close, the snapshots of the chosen event or moment, and buttons that open the run's folder
// and report. Events are grouped by the core's grouper, as the report groups them. Every call
// comes on the GUI thread, the run's observer calls gathered in batches.
class ResultsPanel : public QWidget {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    explicit ResultsPanel(QWidget* parent = nullptr);

    // Forgets the previous run.
    void beginRun(const pelmora::RunFacts& facts, long long eventGapMs);
    // In frame order.
    void addFrames(const std::vector<pelmora::FrameMeasure>& frames);
    // In frame order, once each is written or has failed.
    void addSnapshots(const std::vector<pelmora::SnapshotOutcome>& snapshots);
    // reportPath is empty when the run wrote no report.
    void finishRun(const pelmora::RunReport& report, const QString& reportPath);
    // The run's clips, once they are cut: the chosen event's plays with the desktop's player.
    void setClips(const std::vector<pelmora::ClipOutcome>& clips);

    // How the folder and the report are opened: by the desktop's own programs unless set.
    void setUrlOpener(UrlOpener opener);

    // Shows the snapshot of the run nearest that moment, with the rest of its event.
    void showMoment(long long ms);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A moment chosen on the timeline.
    void momentChosen(long long ms);

private:
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
    };

    void eventClosed(const pelmora::MotionEvent& event);
    void showEventOfRow(int row);
    void showRange(Range range, std::size_t at);
    Range rangeOfRow(int row) const;
    Range openRange() const;
    // What the run has found so far, or in all once its report is given.
    void showSummary(const pelmora::RunReport* report);
    void open(const QString& path);
    // The saved clip of the chosen event, or nothing.
    QString clipOfChosenEvent() const;
    void updateClipButton();

    TimelineView* timeline;
    EventList* eventList;
    SnapshotViewer* viewer;
    QLabel* summary;
    QPushButton* openFolderButton;
    QPushButton* openReportButton;
    QPushButton* playClipButton;
    UrlOpener opener;
    std::vector<pelmora::ClipOutcome> clips;

    pelmora::RunFacts facts;
    pelmora::EventGrouper grouper;
    std::vector<pelmora::SnapshotOutcome> snapshots;
    // The first snapshot of each closed event, and of the one still open.
    std::vector<std::size_t> eventStarts;
    std::size_t openStart = 0;
    bool running = false;
    QString reportPath;
};
