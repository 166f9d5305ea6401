#include "Kavrit.h"

#include <QApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>

#include "ClipPlan.h"
#include "DetectionRun.h"
#include "DisplayView.h"
#include "EarlierRunQuestion.h"
#include "FileChooser.h"
#include "FolderNames.h"
#include "HelpWindows.h"
#include "OptionTable.h"
#include "ResultsPanel.h"
#include "RunOptionsPanel.h"
#include "RunSummary.h"
#include "RunThread.h"
#include "SearchPanel.h"
#include "TuningWindow.h"
#include "VideoJob.h"
#include "VideoSource.h"
#include "WindowPlacement.h"

namespace {

// The lines of a run kept for the status bar's tip: a run that loses thousands of snapshots
// says the same thing thousands of times.
constexpr int kLinesKept = 20;

}  // namespace

Kavrit::Kavrit(QWidget* parent, Qt::WindowFlags flags) : QMainWindow(parent, flags) {
    ui.setupUi(this);
    connect(ui.pushButton, &QPushButton::clicked, this, &Kavrit::goButton);
    connect(ui.videoSelectButton, &QPushButton::clicked, this, &Kavrit::launchVideoSelectDialog);
    connect(ui.directorySelectButton, &QPushButton::clicked, this,
            &Kavrit::launchDirectorySelectDialog);
    connect(ui.actionNew_Project, &QAction::triggered, this, &Kavrit::launchVideoSelectDialog);
    connect(ui.actionSave_Path, &QAction::triggered, this, &Kavrit::launchDirectorySelectDialog);
    connect(ui.actionRun, &QAction::triggered, this, &Kavrit::goButton);
    connect(ui.actionDocumentation, &QAction::triggered, this, &Kavrit::openDocumentation);
    connect(ui.actionAbout, &QAction::triggered, this, &Kavrit::aboutInfo);
    QSlider* slider = ui.horizontalSlider_thresholdSlider;
    slider->setRange(pelmora::kMinimumThreshold, pelmora::kMaximumThreshold);
    slider->setValue(static_cast<int>(pelmora::option::kThreshold.windowDefault));
    // A dragged handle shows its own value, so the label follows on release; a value changed
    // any other way (keys, wheel, a click on the groove) shows at once, so that the label
    // always tells the threshold that Start will use.
    connect(slider, &QSlider::sliderReleased, this, &Kavrit::thresholdHandler);
    connect(slider, &QSlider::valueChanged, this, [this, slider] {
        if (!slider->isSliderDown()) {
            thresholdHandler();
        }
    });
    ui.progressBar_kavritProgress->setVisible(false);
    ui.progressBar_kavritProgress->setValue(0);
    // "Detailed Output" is a lone radio button, which this toolkit lets a second click clear:
    // that is how the user goes back to quiet runs.
    runSummaryLabel = new QLabel(ui.statusBar);
    runSummaryLabel->setObjectName(QStringLiteral("label_runSummary"));
    // A long folder name is cut at the right rather than widening the window.
    runSummaryLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // A normal status bar widget, so that the status tips of the menus only cover it for a
    // while instead of wiping it.
    ui.statusBar->addWidget(runSummaryLabel, 1);
    // A tool button: a push button would make the status bar taller than its text.
    cutEncodedButton = new QToolButton(ui.statusBar);
    cutEncodedButton->setText(tr("Cut Them Encoded"));
    cutEncodedButton->setAutoRaise(true);
    cutEncodedButton->setMaximumHeight(runSummaryLabel->sizeHint().height() + 4);
    cutEncodedButton->setObjectName(QStringLiteral("pushButton_cutEncoded"));
    cutEncodedButton->setToolTip(
        tr("Cut the clips that could not be copied again, encoded as H.264 in MP4"));
    ui.statusBar->addPermanentWidget(cutEncodedButton);
    cutEncodedButton->hide();
    connect(cutEncodedButton, &QToolButton::clicked, this, &Kavrit::cutClipsEncoded);
    runThread = new RunThread(detector, this);
    recutThread = new RecutThread(this);
    connect(recutThread, &RecutThread::clipsCut, this, &Kavrit::clipsEncoded);
    addStopButton();
    addShortcuts();
    addPanels();
    setAcceptDrops(true);
    arrangeForm();
    QProgressBar* bar = ui.progressBar_kavritProgress;
    connect(runThread, &RunThread::progressed, bar, &QProgressBar::setValue);
    connect(runThread, &RunThread::frameShown, this,
            [this](const QImage& frame, const QImage& mask) {
                if (display != nullptr) {
                    display->showFrame(frame, mask);
                }
                runThread->frameTaken();
            });
    connect(runThread, &RunThread::runEnded, this, &Kavrit::runEnded);
    connect(runThread, &RunThread::messageSaid, this, [this](const pelmora::RunMessage& message) {
        if (runLines.size() < kLinesKept) {
            runLines.append(QString::fromStdString(pelmora::messageLine(message)));
        }
        // Lost snapshots and clips are counted apart; a few of their lines tell the reason.
        // Every other failure is kept, however many lines came before it.
        if (message.logKind() == pelmora::LogKind::Failure &&
            (!fileNotSaved(message) || static_cast<int>(runFailures.size()) < kLinesKept)) {
            runFailures.push_back(message);
        }
    });
    connect(results, &ResultsPanel::openFailed, runSummaryLabel, &QLabel::setText);
    // A detailed run's windows stay with its last picture only while Detailed Output is on.
    connect(ui.radioButton_detailedOutput, &QRadioButton::toggled, this, [this](bool on) {
        if (!on && !isRunning()) {
            display.reset();
        }
    });
    installEventFilter(this);
}

void Kavrit::openTuning() {
    if (tuning == nullptr) {
        tuning = std::make_unique<TuningWindow>();
        tuning->setAttribute(Qt::WA_QuitOnClose, false);
        tuning->setWindowIcon(windowIcon());
        connect(tuning.get(), &TuningWindow::thresholdChosen, ui.horizontalSlider_thresholdSlider,
                &QSlider::setValue);
    }
    QString error;
    if (!tuning->openVideo(ui.videoBox->text(), &error)) {
        warn(QString::fromStdString(
            pelmora::messageLine({pelmora::MessageKind::VideoNotOpened,
                                  ui.videoBox->text().toStdString(), error.toStdString()})));
        return;
    }
    tuning->setThreshold(ui.horizontalSlider_thresholdSlider->value());
    tuning->setMinPixels(options->minPixels());
    tuning->setDetector(options->detector(), options->objectSettings());
    tuning->setEventGap(options->recordOptions().eventGapMs);
    pelmora::WatchedRegion region;
    // A mask that cannot be read tunes without it; the run says why when it starts.
    options->watchedRegion(region);
    tuning->setWatchedRegion(region);
    if (!tuning->isVisible()) {
        placeBeside(*tuning, *this);
    }
    tuning->show();
    tuning->raise();
}

void Kavrit::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        event->acceptProposedAction();
    }
}

void Kavrit::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        ui.videoBox->setText(urls.first().toLocalFile());
        event->acceptProposedAction();
    }
}

Kavrit::~Kavrit() {
    // The thread is a child of the window, but the run it may still be doing uses the
    // detector, which goes first.
    runThread->requestStop();
    runThread->wait();
    // The clips not yet complete are abandoned.
    delete recutThread;
}

void Kavrit::openFromArguments(const QStringList& arguments) {
    if (arguments.size() > 1 && !arguments.at(1).isEmpty()) {
        ui.videoBox->setText(arguments.at(1));
    }
}

void Kavrit::restoreSettings(QSettings& settings) {
    ui.videoBox->setText(settings.value(QStringLiteral("video")).toString());
    ui.lineEdit->setText(settings.value(QStringLiteral("folder")).toString());
    ui.horizontalSlider_thresholdSlider->setValue(
        settings.value(QStringLiteral("threshold"), 0).toInt());
    ui.radioButton_detailedOutput->setChecked(
        settings.value(QStringLiteral("detailed"), false).toBool());
    options->restore(settings);
}

void Kavrit::saveSettings(QSettings& settings) const {
    options->save(settings);
    settings.setValue(QStringLiteral("video"), ui.videoBox->text());
    settings.setValue(QStringLiteral("folder"), ui.lineEdit->text());
    settings.setValue(QStringLiteral("threshold"), ui.horizontalSlider_thresholdSlider->value());
    settings.setValue(QStringLiteral("detailed"), ui.radioButton_detailedOutput->isChecked());
}

bool Kavrit::isRunning() const {
    return runGoing;
}

void Kavrit::goButton() {
    if (isRunning()) {
        return;
    }
    const QString videoText = ui.videoBox->text();
    const QString directoryText = ui.lineEdit->text();
    outputDir = directoryText.toStdString();
    videoPath = videoText.toStdString();
    if (!pelmora::VideoJob::isAcceptedVideoPath(videoPath)) {
        warn(tr("You have to specify a valid avi file path."));
        return;
    }
    if (ui.radioButton_detailedOutput->isChecked()) {
        runDetailed();
        return;
    }
    run(false);
}

void Kavrit::runDetailed() {
    run(true);
}

void Kavrit::run(bool detailed) {
    RunSettings settings;
    settings.videoPath = videoPath;
    settings.outputDir = outputDir;
    settings.threshold = ui.horizontalSlider_thresholdSlider->value();
    settings.detailed = detailed;
    settings.minPixels = options->minPixels();
    settings.detector = options->detector();
    settings.objects = options->objectSettings();
    settings.boxes = options->boxes();
    settings.records = options->recordOptions();
    recordsOfRun = settings.records;
    const QString mask = options->maskPath();
    const std::string reason = options->watchedRegion(settings.watched);
    if (!reason.empty()) {
        warn(tr("Cannot read the watched region %1: %2").arg(mask, QString::fromStdString(reason)));
        return;
    }
    // The question is of a run that is to happen: a video that does not open is said first,
    // as the run would say it, and nothing is asked.
    {
        pelmora::VideoSource probe;
        const std::string reason = probe.open(videoPath);
        if (!reason.empty()) {
            const pelmora::RunMessage failure{pelmora::MessageKind::VideoNotOpened, videoPath,
                                              reason};
            // On the error stream too, as a run that failed to open says it.
            pelmora::RunLog().tell(failure);
            failedStart(QString::fromStdString(pelmora::messageLine(failure)));
            return;
        }
    }
    const std::string folder = pelmora::VideoJob::snapshotFolder(videoPath, outputDir);
    switch (
        askAboutEarlierRun(this, QString::fromStdString(folder), pelmora::findEarlierRun(folder))) {
        case EarlierRunChoice::Cancel:
            return;
        case EarlierRunChoice::Remove:
            settings.removeEarlier = true;
            break;
        case EarlierRunChoice::Keep:
            break;
    }
    display.reset();
    if (detailed) {
        display = std::make_unique<DisplayView>(QString::fromStdString(videoPath), *this);
        connect(display.get(), &DisplayView::stopRequested, runThread, &RunThread::requestStop);
    }
    ui.progressBar_kavritProgress->setVisible(true);
    runSummaryLabel->clear();
    runSummaryLabel->setToolTip(QString());
    runLines.clear();
    runFailures.clear();
    failedClips.clear();
    cutEncodedButton->hide();
    lastSettings = settings;
    search->setScan(settings, std::string());
    ui.pushButton->setEnabled(false);
    ui.actionRun->setEnabled(false);
    stopButton->setEnabled(true);
    resultsDock->raise();
    // The last run's end has reached the window; its thread may still be returning.
    runThread->wait();
    runGoing = runThread->startRun(settings);
}

void Kavrit::runEnded(const pelmora::VideoRunResult& result, double seconds) {
    runGoing = false;
    ui.pushButton->setEnabled(true);
    ui.actionRun->setEnabled(true);
    stopButton->setEnabled(false);
    if (closing) {
        return;
    }
    reportRun(result, seconds);
}

void Kavrit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && isRunning()) {
        runThread->requestStop();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool Kavrit::eventFilter(QObject* watched, QEvent* event) {
    // Closed mid-run: the run stops after its frame, and its thread ends before the window
    // goes, so that nothing of it outlives the window.
    if (watched == this && event->type() == QEvent::Close && isRunning()) {
        closing = true;
        runThread->requestStop();
        runThread->wait();
        display.reset();
    }
    return QMainWindow::eventFilter(watched, event);
}

void Kavrit::failedStart(const QString& failure) {
    // A run that never started must not go on showing the 100 of the run before it, nor its
    // events.
    ui.progressBar_kavritProgress->setVisible(true);
    ui.progressBar_kavritProgress->setValue(0);
    results->clearRun(failure);
    runSummaryLabel->setText(failure);
    warn(failure);
}

void Kavrit::reportRun(const pelmora::VideoRunResult& result, double seconds) {
    using Status = pelmora::RunReport::Status;
    const pelmora::RunReport& report = result.report;
    search->setScan(lastSettings, result.complete ? report.outputDir : std::string());
    if (report.status == Status::OpenFailed || report.status == Status::OutputUnusable) {
        failedStart(startFailure(report, videoPath));
        return;
    }
    const bool reported = recordsOfRun.report &&
                          (report.status == Status::Finished || report.status == Status::Stopped);
    results->finishRun(report, reported ? QString::fromStdString(pelmora::joinPath(
                                              report.outputDir, pelmora::kReportName))
                                        : QString());
    QStringList said{runSummary(report, seconds)};
    if (report.start.known()) {
        said << startLine(report);
    }
    said += runProblems(result, runFailures, failedClips);
    runSummaryLabel->setText(said.join(QStringLiteral("; ")));
    QStringList tip = said;
    if (!runLines.isEmpty()) {
        tip << QString() << runLines;
    }
    runSummaryLabel->setToolTip(tip.join(QLatin1Char('\n')));
    cutEncodedButton->setVisible(!failedClips.empty() &&
                                 lastSettings.records.clipMode == pelmora::ClipMode::Copy);
    const QString warning = runWarning(report, videoPath);
    if (!warning.isEmpty()) {
        warn(warning);
    }
}

void Kavrit::cutClipsEncoded() {
    if (isRunning() || recutThread->isRunning() || failedClips.empty()) {
        return;
    }
    // The stretches of the clips that failed, as the run planned them.
    std::vector<pelmora::ClipStretch> stretches;
    for (const pelmora::ClipStretch& stretch :
         pelmora::planClipStretches(results->events(), lastSettings.records.clipBeforeMs,
                                    lastSettings.records.clipAfterMs)) {
        for (const pelmora::ClipOutcome& clip : failedClips) {
            if (clip.events == stretch.events) {
                stretches.push_back(stretch);
            }
        }
    }
    if (stretches.empty()) {
        return;
    }
    pelmora::ClipRequest request;
    request.videoPath = lastSettings.videoPath;
    request.folder =
        pelmora::VideoJob::snapshotFolder(lastSettings.videoPath, lastSettings.outputDir);
    request.stretches = stretches;
    request.mode = pelmora::ClipMode::Encode;
    cutEncodedButton->setEnabled(false);
    ui.pushButton->setEnabled(false);
    ui.actionRun->setEnabled(false);
    runSummaryLabel->setText(
        tr("Cutting %1 encoded...")
            .arg(stretches.size() == 1 ? tr("1 clip") : tr("%1 clips").arg(stretches.size())));
    recutThread->startCutting(request);
}

void Kavrit::clipsEncoded(const std::vector<pelmora::ClipOutcome>& clips) {
    cutEncodedButton->setEnabled(true);
    ui.pushButton->setEnabled(true);
    ui.actionRun->setEnabled(true);
    results->setClips(clips);
    const RecutSummary said = recutSummary(
        clips, pelmora::VideoJob::snapshotFolder(lastSettings.videoPath, lastSettings.outputDir),
        failedClips);
    // The same lines as a run's, on the error stream too.
    for (const QString& line : said.lines) {
        std::fprintf(stderr, "%s\n", line.toStdString().c_str());
    }
    runSummaryLabel->setText(said.text);
    runSummaryLabel->setToolTip(said.lines.join(QLatin1Char('\n')));
    cutEncodedButton->setVisible(false);
}

void Kavrit::warn(const QString& text) {
    QMessageBox::about(this, tr("Warning"), text);
}

void Kavrit::launchVideoSelectDialog() {
    const QString chosen = runChooser(this, QFileDialog::ExistingFile, tr("Video (*.avi)"));
    if (!chosen.isEmpty()) {
        ui.videoBox->setText(chosen);
    }
}

void Kavrit::launchDirectorySelectDialog() {
    const QString chosen = runChooser(this, QFileDialog::Directory, QString());
    if (!chosen.isEmpty()) {
        ui.lineEdit->setText(chosen);
    }
}

void Kavrit::thresholdHandler() {
    const int value = ui.horizontalSlider_thresholdSlider->value();
    ui.label_threshold->setText(QString::fromLatin1("Threshold: ") +
                                QStringLiteral("%1").arg(value, 0, 10, QLatin1Char(' ')));
}

void Kavrit::closeEvent() {
    std::cout << "Program is closing." << std::endl;
    const int ignored = std::system("quit");
    static_cast<void>(ignored);
}

void Kavrit::openDocumentation() {
    showUserGuide(windowIcon());
}

void Kavrit::aboutInfo() {
    showAbout(this);
}
