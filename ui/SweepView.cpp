#include "SweepView.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "FileOutput.h"
#include "OptionTable.h"
#include "TextFormat.h"

namespace {

// The trigger sizes every sweep of the window tries besides the one set: the curve then
// follows a change of trigger size among them without another pass.
const int kCommonTriggers[] = {10, 100, 1000};
// "Mark moment" marks this much on each side of the position: a moment is a stretch, and an
// event of one snapshot a frame or two away still finds it.
constexpr long long kMarkMarginMs = 500;

QString timeText(long long ms) {
    return QString::fromStdString(pelmora::timecode(ms));
}

}  // namespace

SweepView::SweepView(QWidget* parent) : QWidget(parent) {
    curve = new SweepCurve(this);
    sweepButton = new QPushButton(tr("Sweep the whole video"), this);
    sweepButton->setObjectName(QStringLiteral("sweepButton"));
    sweepButton->setToolTip(
        tr("Find, in one pass, what a run at every threshold would take, exactly"));
    stopButton = new QPushButton(tr("Stop"), this);
    stopButton->setObjectName(QStringLiteral("stopSweepButton"));
    progress = new QProgressBar(this);
    progress->setObjectName(QStringLiteral("sweepProgress"));
    progress->setRange(0, 100);
    countsLine = new QLabel(this);
    countsLine->setObjectName(QStringLiteral("sweepCounts"));
    suggestionLine = new QLabel(this);
    suggestionLine->setObjectName(QStringLiteral("sweepSuggestion"));
    suggestionLine->setWordWrap(true);
    markButton = new QPushButton(tr("Mark moment"), this);
    markButton->setObjectName(QStringLiteral("markMomentButton"));
    markButton->setToolTip(
        tr("The second around the position holds motion: the suggestion finds the marked "
           "moments with the fewest snapshots outside them"));
    marksLine = new QLabel(this);
    marksLine->setObjectName(QStringLiteral("momentsLine"));
    marksLine->setWordWrap(true);
    saveButton = new QPushButton(tr("Save moments..."), this);
    saveButton->setObjectName(QStringLiteral("saveMomentsButton"));
    loadButton = new QPushButton(tr("Load moments..."), this);
    loadButton->setObjectName(QStringLiteral("loadMomentsButton"));

    auto* run = new QHBoxLayout;
    run->addWidget(sweepButton);
    run->addWidget(stopButton);
    run->addWidget(progress, 1);
    auto* moments = new QHBoxLayout;
    moments->addWidget(markButton);
    moments->addWidget(marksLine, 1);
    moments->addWidget(saveButton);
    moments->addWidget(loadButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(run);
    layout->addWidget(curve, 1);
    layout->addWidget(countsLine);
    layout->addWidget(suggestionLine);
    layout->addLayout(moments);

    connect(sweepButton, &QPushButton::clicked, this, &SweepView::startSweep);
    connect(stopButton, &QPushButton::clicked, this, &SweepView::stopSweep);
    connect(markButton, &QPushButton::clicked, this, &SweepView::markMoment);
    connect(curve, &SweepCurve::thresholdClicked, this, &SweepView::thresholdPicked);
    connect(saveButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Save moments"), QString(),
                                                          tr("Moments (*.txt);;All files (*)"));
        QString error;
        if (!path.isEmpty() && !saveMoments(path, &error)) {
            QMessageBox::warning(this, tr("Save moments"),
                                 tr("Cannot save %1: %2").arg(path, error));
        }
    });
    connect(loadButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Load moments"), QString(),
                                                          tr("Moments (*.txt);;All files (*)"));
        QString error;
        if (!path.isEmpty() && !loadMoments(path, &error)) {
            QMessageBox::warning(this, tr("Load moments"),
                                 tr("Cannot load %1: %2").arg(path, error));
        }
    });
    connect(&thread, &SweepThread::progressed, this,
            [this](int percent, const std::vector<pelmora::SweepRow>& rows) {
                progress->setValue(percent);
                showRows(rows);
            });
    connect(
        &thread, &SweepThread::sweepEnded, this,
        [this](const std::vector<pelmora::SweepRow>& rows, bool stopped, const QString& failure) {
            setRunning(false);
            showRows(rows);
            if (!failure.isEmpty()) {
                suggestionLine->setText(tr("The sweep failed: %1").arg(failure));
            } else if (stopped) {
                suggestionLine->setText(tr("Stopped: the curve counts the frames read so far. %1")
                                            .arg(suggestionLine->text()));
            } else {
                progress->setValue(100);
            }
            emit sweepFinished();
        });
    setRunning(false);
    showMarks();
}

SweepView::~SweepView() = default;

void SweepView::setVideo(const QString& path) {
    // The window is opened on the same video again and again: its sweep and marks stay.
    if (path == video) {
        return;
    }
    stopSweep();
    thread.wait();
    video = path;
    marks.clear();
    sweptMarks.clear();
    showRows({});
    progress->setValue(0);
    showMarks();
    setRunning(false);
}

void SweepView::setWatchedRegion(const pelmora::WatchedRegion& watched) {
    region = watched;
}

void SweepView::setEventGap(long long gapMs) {
    eventGap = gapMs;
}

void SweepView::setTrigger(int size) {
    trigger = size;
    curve->setTrigger(size);
    showRows(swept);
}

void SweepView::setThreshold(int threshold) {
    curve->setThreshold(threshold);
}

void SweepView::setPositionSource(std::function<double()> source) {
    positionMs = std::move(source);
}

void SweepView::startSweep() {
    if (video.isEmpty()) {
        return;
    }
    std::vector<int> triggers(std::begin(kCommonTriggers), std::end(kCommonTriggers));
    triggers.push_back(trigger);
    sweptMarks = marks;
    if (thread.startSweep(video, region, triggers, marks, eventGap)) {
        progress->setValue(0);
        suggestionLine->clear();
        setRunning(true);
    }
}

void SweepView::stopSweep() {
    thread.requestStop();
}

bool SweepView::sweeping() const {
    return thread.isRunning();
}

void SweepView::setRunning(bool now) {
    running = now;
    sweepButton->setEnabled(!running && !video.isEmpty());
    stopButton->setEnabled(running);
    markButton->setEnabled(!video.isEmpty());
}

void SweepView::markMoment() {
    if (!positionMs) {
        return;
    }
    const long long at = std::llround(std::max(positionMs(), 0.0));
    marks.push_back({std::max(0LL, at - kMarkMarginMs), at + kMarkMarginMs});
    showMarks();
}

bool SweepView::saveMoments(const QString& path, QString* error) {
    const std::string text = pelmora::momentsFileText(marks);
    const std::string reason = pelmora::replaceFile(path.toStdString(), text.data(), text.size());
    if (!reason.empty() && error != nullptr) {
        *error = QString::fromStdString(reason);
    }
    return reason.empty();
}

bool SweepView::loadMoments(const QString& path, QString* error) {
    const pelmora::MomentsFile file = pelmora::readMomentsFile(path.toStdString());
    if (!file.error.empty()) {
        if (error != nullptr) {
            *error = QString::fromStdString(file.error);
        }
        return false;
    }
    marks = file.moments;
    showMarks();
    return true;
}

void SweepView::showRows(const std::vector<pelmora::SweepRow>& rows) {
    swept = rows;
    curve->setRows(rows);
    const bool covered = std::any_of(rows.begin(), rows.end(), [this](const auto& row) {
        return row.setting.minPixels == trigger;
    });
    if (rows.empty()) {
        countsLine->setText(video.isEmpty() ? tr("No video open")
                                            : tr("Sweep to see what every threshold finds."));
    } else if (!covered) {
        countsLine->setText(
            tr("The sweep did not try a trigger size of %1 pixels: sweep again.").arg(trigger));
    } else {
        countsLine->setText(
            tr("Snapshots (solid) and events (dashed) by threshold at a trigger size of %1 "
               "pixels, exactly as a run of each would find them.")
                .arg(trigger));
    }
    showSuggestion();
}

void SweepView::showMarks() {
    if (marks.empty()) {
        marksLine->setText(tr("No moment marked"));
    } else {
        QStringList spans;
        for (const pelmora::KnownMoment& moment : marks) {
            spans << tr("%1 to %2").arg(timeText(moment.startMs), timeText(moment.endMs));
        }
        marksLine->setText(tr("Marked: %1").arg(spans.join(QStringLiteral(", "))));
    }
    saveButton->setEnabled(!marks.empty());
    showSuggestion();
}

void SweepView::showSuggestion() {
    if (swept.empty() || running) {
        suggestionLine->clear();
        return;
    }
    // The window hands on a threshold only: the suggestion is among the trigger size set.
    std::vector<pelmora::SweepRow> shown;
    std::copy_if(swept.begin(), swept.end(), std::back_inserter(shown),
                 [this](const pelmora::SweepRow& row) { return row.setting.minPixels == trigger; });
    const pelmora::SweepSuggestion suggestion = pelmora::suggestSetting(shown);
    if (suggestion.flat) {
        suggestionLine->setText(
            tr("No suggestion: the snapshots never fall steeply as the threshold rises, so no "
               "threshold tells motion from what changes throughout the video. Try the objects "
               "detector (Run Options), which explains light, weather and shake away."));
        return;
    }
    if (!suggestion.made) {
        suggestionLine->clear();
        return;
    }
    const pelmora::SweepSetting& setting = suggestion.setting;
    QString text = tr("Suggested: threshold %1").arg(setting.threshold);
    if (!suggestion.byMoments) {
        text +=
            tr(", where the curve flattens: from there on, the snapshots and events stay within "
               "a tenth of those at the highest threshold.");
    } else {
        const auto row = std::find_if(shown.begin(), shown.end(), [&](const auto& each) {
            return each.setting.threshold == setting.threshold;
        });
        const long long outside = row != shown.end() ? row->snapshotsOutside : 0;
        if (suggestion.missed.empty()) {
            text += tr(": it finds all %1 marked moments with %2 snapshots outside them.")
                        .arg(sweptMarks.size())
                        .arg(outside);
        } else {
            QStringList missed;
            for (const std::size_t index : suggestion.missed) {
                missed << tr("%1 to %2")
                              .arg(timeText(sweptMarks[index].startMs),
                                   timeText(sweptMarks[index].endMs));
            }
            text += tr(": no setting finds every marked moment; it finds %1 of %2 with %3 "
                       "snapshots outside them and misses %4.")
                        .arg(sweptMarks.size() - suggestion.missed.size())
                        .arg(sweptMarks.size())
                        .arg(outside)
                        .arg(missed.join(QStringLiteral(", ")));
        }
    }
    if (marks.size() != sweptMarks.size() ||
        !std::equal(marks.begin(), marks.end(), sweptMarks.begin(),
                    [](const auto& a, const auto& b) {
                        return a.startMs == b.startMs && a.endMs == b.endMs;
                    })) {
        text += tr(" The marks have changed since: sweep again to use them.");
    }
    suggestionLine->setText(text);
}
