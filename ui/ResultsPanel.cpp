#include "ResultsPanel.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "EventList.h"
#include "FolderNames.h"
#include "FrameClock.h"
#include "RunRecorder.h"
#include "SnapshotViewer.h"
#include "TextFormat.h"
#include "TimelineView.h"

namespace {

QString counted(long long count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

}  // namespace

ResultsPanel::ResultsPanel(QWidget* parent)
    : QWidget(parent),
      timeline(new TimelineView),
      eventList(new EventList),
      viewer(new SnapshotViewer),
      summary(new QLabel),
      openFolderButton(new QPushButton(tr("Open Folder"))),
      openReportButton(new QPushButton(tr("Open Report"))),
      playClipButton(new QPushButton(tr("Play Clip"))),
      playDigestButton(new QPushButton(tr("Play Digest"))),
      opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    timeline->setObjectName(QStringLiteral("timeline"));
    eventList->setObjectName(QStringLiteral("eventList"));
    viewer->setObjectName(QStringLiteral("snapshotViewer"));
    summary->setObjectName(QStringLiteral("runSummary"));
    openFolderButton->setObjectName(QStringLiteral("openFolderButton"));
    openReportButton->setObjectName(QStringLiteral("openReportButton"));
    playClipButton->setObjectName(QStringLiteral("playClipButton"));
    playClipButton->setEnabled(false);
    playDigestButton->setObjectName(QStringLiteral("playDigestButton"));
    playDigestButton->setVisible(false);
    summary->setText(tr("No run yet"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    openFolderButton->setEnabled(false);
    openReportButton->setEnabled(false);

    auto* header = new QHBoxLayout;
    header->addWidget(summary, 1);
    header->addWidget(openFolderButton);
    header->addWidget(openReportButton);
    header->addWidget(playClipButton);
    header->addWidget(playDigestButton);

    auto* left = new QSplitter(Qt::Vertical);
    left->setChildrenCollapsible(false);
    left->addWidget(timeline);
    left->addWidget(eventList);
    // The events take most of the room there is, and most of what a larger window adds.
    left->setSizes({80, 300});
    left->setStretchFactor(0, 1);
    left->setStretchFactor(1, 3);
    auto* sides = new QSplitter(Qt::Horizontal);
    sides->setChildrenCollapsible(false);
    sides->addWidget(left);
    sides->addWidget(viewer);
    // Room for a 4:3 snapshot beside the list's columns at about 800 x 300.
    sides->setSizes({480, 310});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);
    layout->addLayout(header);
    layout->addWidget(sides, 1);

    connect(timeline, &TimelineView::momentChosen, this, [this](long long ms) {
        showMoment(ms);
        viewer->setFocus();
        emit momentChosen(ms);
    });
    connect(eventList, &EventList::eventChosen, this, &ResultsPanel::showEventOfRow);
    connect(eventList, &EventList::stepped, viewer, &SnapshotViewer::step);
    connect(viewer, &SnapshotViewer::snapshotShown, timeline, &TimelineView::setMarker);
    connect(openFolderButton, &QPushButton::clicked, this,
            [this] { open(QString::fromStdString(facts.outputDir)); });
    connect(openReportButton, &QPushButton::clicked, this, [this] { open(reportPath); });
    connect(playClipButton, &QPushButton::clicked, this, [this] { open(clipOfChosenEvent()); });
    connect(playDigestButton, &QPushButton::clicked, this, [this] { open(digestPath); });
    connect(eventList, &EventList::eventChosen, this, &ResultsPanel::updateClipButton);
}

void ResultsPanel::setClips(const std::vector<pelmora::ClipOutcome>& cut) {
    for (const pelmora::ClipOutcome& clip : cut) {
        const auto same = std::find_if(
            clips.begin(), clips.end(),
            [&clip](const pelmora::ClipOutcome& earlier) { return earlier.events == clip.events; });
        if (same != clips.end()) {
            *same = clip;
        } else {
            clips.push_back(clip);
        }
    }
    updateClipButton();
}

std::vector<pelmora::MotionEvent> ResultsPanel::events() const {
    std::vector<pelmora::MotionEvent> all;
    for (int row = 0; row < eventList->count(); ++row) {
        all.push_back(eventList->event(row));
    }
    return all;
}

void ResultsPanel::clearRun(const QString& reason) {
    facts = {};
    snapshots.clear();
    openEvent.reset();
    running = false;
    reportPath.clear();
    clips.clear();
    timeline->beginRun(0, 0);
    timeline->finishRun();
    eventList->clear(QString());
    eventList->setToolTip(QString());
    viewer->clear();
    for (QPushButton* button : {openFolderButton, openReportButton}) {
        button->setEnabled(false);
        button->setToolTip(QString());
    }
    updateClipButton();
    summary->setText(reason);
}

QString ResultsPanel::clipOfChosenEvent() const {
    const int row = eventList->chosenRow();
    if (row < 0 || row >= eventList->count()) {
        return QString();
    }
    const int number = eventList->event(row).number;
    for (const pelmora::ClipOutcome& clip : clips) {
        if (clip.saved &&
            std::find(clip.events.begin(), clip.events.end(), number) != clip.events.end()) {
            return QString::fromStdString(pelmora::joinPath(facts.outputDir, clip.file));
        }
    }
    return QString();
}

void ResultsPanel::updateClipButton() {
    const QString clip = clipOfChosenEvent();
    playClipButton->setEnabled(!clip.isEmpty());
    playClipButton->setToolTip(clip.isEmpty() ? whyNoClip() : clip);
}

QString ResultsPanel::whyNoClip() const {
    // A greyed-out button says why, on hovering.
    const int row = eventList->chosenRow();
    if (row < 0 || row >= eventList->count()) {
        return clips.empty() ? tr("This run cut no clips") : tr("Choose an event to play its clip");
    }
    const int number = eventList->event(row).number;
    for (const pelmora::ClipOutcome& clip : clips) {
        if (std::find(clip.events.begin(), clip.events.end(), number) != clip.events.end()) {
            return tr("%1 could not be cut: %2")
                .arg(QString::fromStdString(clip.file), QString::fromStdString(clip.error));
        }
    }
    return running ? tr("The clips are cut once the run has read the video")
                   : tr("This run cut no clips");
}

void ResultsPanel::beginRun(const pelmora::RunFacts& runFacts, long long eventGapMs) {
    facts = runFacts;
    snapshots.clear();
    openEvent.reset();
    running = true;
    reportPath.clear();
    // What there is to read, where the file announces more than it holds.
    const long long expectedMs =
        pelmora::usableFrameRate(facts.fps)
            ? std::llround(static_cast<double>(facts.framesExpected > 0 ? facts.framesExpected
                                                                        : facts.framesAnnounced) *
                           1000.0 / facts.fps)
            : 0;
    timeline->beginRun(facts.minPixels, expectedMs);
    const QString folder = QString::fromStdString(facts.outputDir);
    eventList->clear(folder, facts.start);
    eventList->setToolTip(tr("Snapshots no more than %1 apart make one event")
                              .arg(QString::fromStdString(pelmora::plainSeconds(eventGapMs))));
    viewer->clear();
    viewer->setRegions(facts.regions);
    openFolderButton->setEnabled(true);
    openFolderButton->setToolTip(folder);
    openReportButton->setEnabled(false);
    openReportButton->setToolTip(QString());
    clips.clear();
    setDigest(QString());
    updateClipButton();
    showSummary(nullptr);
}

void ResultsPanel::setDigest(const QString& path) {
    digestPath = path;
    // Shown only for a run that made one, so that it takes no room otherwise.
    playDigestButton->setVisible(!path.isEmpty());
    playDigestButton->setToolTip(path);
}

void ResultsPanel::addRecords(const RecordBatch& batch) {
    for (const pelmora::FrameMeasure& frame : batch.frames) {
        timeline->addFrame(frame.timeMs, frame.changedPixels, !frame.againstBlack);
    }
    snapshots.insert(snapshots.end(), batch.snapshots.begin(), batch.snapshots.end());
    for (const pelmora::MotionEvent& event : batch.closedEvents) {
        eventList->addEvent(event);
        timeline->addEvent(event);
    }
    // A batch without snapshots leaves the open event as it was.
    if (batch.openEvent) {
        openEvent = batch.openEvent;
        timeline->setOpenEvent(openEvent->startMs, openEvent->endMs);
    } else if (!batch.closedEvents.empty()) {
        openEvent.reset();
        timeline->clearOpenEvent();
    }
    showSummary(nullptr);
}

void ResultsPanel::finishRun(const pelmora::RunReport& report, const QString& runReportPath) {
    running = false;
    openEvent.reset();
    timeline->finishRun();
    reportPath = runReportPath;
    openReportButton->setEnabled(!reportPath.isEmpty());
    openReportButton->setToolTip(reportPath.isEmpty() ? tr("This run wrote no report")
                                                      : reportPath);
    showSummary(&report);
    // Something to look at straight away, unless something is on show already.
    if (viewer->current() == nullptr && eventList->count() > 0) {
        eventList->showRow(0);
        showEventOfRow(0);
    }
}

void ResultsPanel::setUrlOpener(UrlOpener urlOpener) {
    opener = std::move(urlOpener);
}

void ResultsPanel::showMoment(long long ms) {
    if (snapshots.empty()) {
        return;
    }
    const auto later = std::lower_bound(
        snapshots.begin(), snapshots.end(), ms,
        [](const pelmora::SnapshotOutcome& snapshot, long long t) { return snapshot.timeMs < t; });
    auto nearest = later;
    if (later == snapshots.end() ||
        (later != snapshots.begin() && ms - std::prev(later)->timeMs <= later->timeMs - ms)) {
        nearest = std::prev(later);
    }
    const auto index = static_cast<std::size_t>(nearest - snapshots.begin());
    const long long frame = nearest->frame;
    if (running && openEvent && frame >= openEvent->firstFrame) {
        eventList->showRow(-1);
        showRange(rangeOfFrames(openEvent->firstFrame, snapshots.back().frame), index);
        updateClipButton();
        return;
    }
    for (int row = 0; row < eventList->count(); ++row) {
        const pelmora::MotionEvent& event = eventList->event(row);
        if (frame >= event.firstFrame && frame <= event.lastFrame) {
            eventList->showRow(row);
            showRange(rangeOfRow(row), index);
            updateClipButton();
            return;
        }
    }
    // The start of the video, against black, is in no event: it is shown on its own.
    eventList->showRow(-1);
    showRange({index, index + 1}, index);
    updateClipButton();
}

QSize ResultsPanel::sizeHint() const {
    return {800, 300};
}

QSize ResultsPanel::minimumSizeHint() const {
    return {480, 220};
}

void ResultsPanel::showEventOfRow(int row) {
    updateClipButton();
    const Range range = rangeOfRow(row);
    const pelmora::MotionEvent& event = eventList->event(row);
    // The event's picture first, as its thumbnail showed it.
    std::size_t peak = range.begin;
    while (peak + 1 < range.end && snapshots[peak].file != event.pictureFile) {
        ++peak;
    }
    showRange(range, peak);
}

void ResultsPanel::showRange(Range range, std::size_t at) {
    viewer->showSnapshots(QString::fromStdString(facts.outputDir),
                          {snapshots.begin() + static_cast<std::ptrdiff_t>(range.begin),
                           snapshots.begin() + static_cast<std::ptrdiff_t>(range.end)},
                          at - range.begin);
}

ResultsPanel::Range ResultsPanel::rangeOfFrames(long long first, long long last) const {
    const auto begin = std::lower_bound(
        snapshots.begin(), snapshots.end(), first,
        [](const pelmora::SnapshotOutcome& snapshot, long long f) { return snapshot.frame < f; });
    const auto end = std::upper_bound(
        begin, snapshots.end(), last,
        [](long long f, const pelmora::SnapshotOutcome& snapshot) { return f < snapshot.frame; });
    return {static_cast<std::size_t>(begin - snapshots.begin()),
            static_cast<std::size_t>(end - snapshots.begin())};
}

ResultsPanel::Range ResultsPanel::rangeOfRow(int row) const {
    const pelmora::MotionEvent& event = eventList->event(row);
    return rangeOfFrames(event.firstFrame, event.lastFrame);
}

void ResultsPanel::showSummary(const pelmora::RunReport* report) {
    const QString video = QFileInfo(QString::fromStdString(facts.videoPath)).fileName();
    QString found = counted(eventList->count(), "event", "events") + QStringLiteral(", ") +
                    counted(static_cast<long long>(snapshots.size()), "snapshot", "snapshots");
    if (report == nullptr) {
        summary->setText(tr("Reading %1: %2 so far").arg(video, found));
        return;
    }
    if (report->snapshotsLost > 0) {
        found += tr(" (%1 lost)").arg(report->snapshotsLost);
    }
    const QString frames = QString::fromStdString(pelmora::framesText(*report));
    using Status = pelmora::RunReport::Status;
    summary->setText(
        report->status == Status::Stopped  ? tr("%1, stopped: %2, %3").arg(video, found, frames)
        : report->status == Status::Failed ? tr("%1, failed: %2, %3").arg(video, found, frames)
                                           : tr("%1: %2, %3").arg(video, found, frames));
}

void ResultsPanel::open(const QString& path) {
    if (!opener(QUrl::fromLocalFile(path))) {
        const QString text =
            QFileInfo::exists(path)
                ? tr("Could not open %1: the desktop has no program for it").arg(path)
                : tr("Could not open %1: it is no longer there").arg(path);
        summary->setText(text);
        emit openFailed(text);
    }
}
