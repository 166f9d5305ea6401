#include "Kavrit.h"

#include <QApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTextBrowser>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "ClipPlan.h"
#include "DetectionRun.h"
#include "DisplayView.h"
#include "EarlierRunQuestion.h"
#include "FolderNames.h"
#include "OptionTable.h"
#include "ResultsPanel.h"
#include "RunOptionsPanel.h"
#include "RunSummary.h"
#include "RunThread.h"
#include "TuningWindow.h"
#include "Version.h"
#include "VideoJob.h"
#include "VideoSource.h"

namespace {

// The form's own layout margin and spacing, and the side of its title picture: small enough
// that the form leaves most of a laptop's height to the results.
constexpr int kFormMargin = 8;
constexpr int kFormSpacing = 5;
constexpr int kPictureSide = 150;
const QSize kOpeningSize(1100, 720);
// What a window manager adds above a window for its title.
constexpr int kTitleBar = 32;
// The lines of a run kept for the status bar's tip: a run that loses thousands of snapshots
// says the same thing thousands of times.
constexpr int kLinesKept = 20;
const char* const kDocumentationAddress = "qrc:///Kavrit/PelmoraDocumentation.html";

// Blocks separated by '\n', the release line last and without a line end: the version that
// ends it is the build's own (see aboutInfo). Credits as the package's copyright file gives
// them, and the free libraries the program stands on, with their licences.
const char* const kAboutText =
    "Written by the Pelmora developers, for finding the moments of motion in recorded video.\n"
    "\n"
    "Video read and clips cut with FFmpeg's libraries; snapshots written with libjpeg-turbo.\n"
    "\n"
    "Built on free software:\n"
    "\tQt 5.15, the window toolkit (GNU LGPL v3)\n"
    "\tOpenCV 4.6, the image arithmetic (Apache License 2.0)\n"
    "\tFFmpeg 5.1, the video decoders and encoders (GNU LGPL v2.1 or later).\n"
    "\n"
    "\n"
    "Copyright 2026 the Pelmora developers\n"
    "Free software: you may share and change it under the licence below; it comes with no "
    "warranty.\n"
    "\n"
    "\n"
    "Beta Release ";

// Opens a window of its own beside the main window, within the screen: to its right, else to
// its left, else, when the main window leaves no room, over its lower part at the screen's
// right, never over the form's controls; as small as it must be to fit there.
void placeBeside(QWidget& window, const QMainWindow& main) {
    constexpr int kGap = 8;
    const QScreen* screen = main.screen();
    if (screen == nullptr) {
        return;
    }
    const QRect free = screen->availableGeometry();
    const QRect frame = main.frameGeometry();
    QSize size = window.size().boundedTo(QSize(free.width(), free.height() - kTitleBar));
    const int top =
        std::max(free.top(), std::min(frame.top(), free.bottom() - kTitleBar - size.height()));
    if (frame.right() + kGap + size.width() <= free.right()) {
        window.move(frame.right() + kGap, top);
    } else if (frame.left() - kGap - size.width() >= free.left()) {
        window.move(frame.left() - kGap - size.width(), top);
    } else {
        const QWidget* form = main.centralWidget();
        const int below = form->mapToGlobal(QPoint(0, form->height())).y() + kGap;
        const int room = free.bottom() - below - kTitleBar;
        if (room >= size.height() / 2) {
            size.setHeight(std::min(size.height(), room));
            window.resize(size);
            window.move(free.right() - size.width(), below);
        } else {
            window.move(free.right() - size.width(), free.bottom() - kTitleBar - size.height());
        }
    }
}

// The first entry of an accepted chooser, or nothing.
QString runChooser(QWidget* parent, QFileDialog::FileMode mode, const QString& nameFilter) {
    QFileDialog dialog(parent, QString(), QString(), QString());
    dialog.setFileMode(mode);
    if (!nameFilter.isEmpty()) {
        dialog.setNameFilter(nameFilter);
    }
    QStringList selected;
    if (dialog.exec()) {
        selected = dialog.selectedFiles();
    }
    return selected.isEmpty() ? QString() : selected.first();
}

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
    connect(runThread, &RunThread::lineSaid, this, [this](const QString& line, bool failure) {
        if (runLines.size() < kLinesKept) {
            runLines.append(line);
        }
        // Lost snapshots and clips are counted apart; a few of their lines tell the reason.
        // Every other failure is kept, however many lines came before it.
        const bool aboutAFile = line.startsWith(QLatin1String("Failed to save "));
        if (failure && (!aboutAFile || runFailures.size() < kLinesKept)) {
            runFailures.append(line);
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

void Kavrit::addPanels() {
    // Below the form, which keeps its place: a user of the form alone finds everything where
    // it was, and the rest of a run's choices close by.
    options = new RunOptionsPanel(this);
    auto* optionsDock = new QDockWidget(tr("Run Options"), this);
    optionsDock->setObjectName(QStringLiteral("dock_runOptions"));
    optionsDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    optionsDock->setWidget(options);
    addDockWidget(Qt::BottomDockWidgetArea, optionsDock);
    connect(ui.videoBox, &QLineEdit::textChanged, options, &RunOptionsPanel::setVideo);

    results = new ResultsPanel(this);
    resultsDock = new QDockWidget(tr("Results"), this);
    resultsDock->setObjectName(QStringLiteral("dock_results"));
    resultsDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    resultsDock->setWidget(results);
    tabifyDockWidget(optionsDock, resultsDock);
    optionsDock->raise();
    // Tabbed together, the tabs name the panels: a title bar above them would only take the
    // height the events need. Apart or floating, each has its title bar back to be moved by.
    for (QDockWidget* dock : {optionsDock, resultsDock}) {
        auto* noTitle = new QWidget(dock);
        noTitle->hide();
        const auto titleFollows = [this, dock, noTitle] {
            const bool tabbed = !dock->isFloating() && !tabifiedDockWidgets(dock).isEmpty();
            if ((dock->titleBarWidget() == noTitle) != tabbed) {
                dock->setTitleBarWidget(tabbed ? noTitle : nullptr);
            }
        };
        connect(dock, &QDockWidget::topLevelChanged, this, titleFollows);
        connect(dock, &QDockWidget::dockLocationChanged, this, titleFollows);
        titleFollows();
    }
    connect(runThread, &RunThread::runStarted, results, [this](const pelmora::RunFacts& facts) {
        results->beginRun(facts, recordsOfRun.eventGapMs);
    });
    connect(runThread, &RunThread::recordsGrew, results, &ResultsPanel::addRecords);
    connect(runThread, &RunThread::clipsCut, results, &ResultsPanel::setClips);
    connect(runThread, &RunThread::digestSaved, results, &ResultsPanel::setDigest);

    // Beside the threshold it tunes.
    tuneButton = new QPushButton(tr("Tune..."), ui.centralWidget);
    tuneButton->setObjectName(QStringLiteral("pushButton_tune"));
    tuneButton->setToolTip(tr("Try thresholds on the video's own frames"));
    connect(tuneButton, &QPushButton::clicked, this, &Kavrit::openTuning);
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
        warn(tr("Failed to open %1: %2").arg(ui.videoBox->text(), error));
        return;
    }
    tuning->setThreshold(ui.horizontalSlider_thresholdSlider->value());
    tuning->setMinPixels(options->minPixels());
    tuning->setDetector(options->detector(), options->objectSettings());
    tuning->setEventGap(options->recordOptions().eventGapMs);
    pelmora::WatchedRegion region;
    std::string reason;
    if (!options->maskPath().isEmpty()) {
        pelmora::WatchedRegion::load(options->maskPath().toStdString(), region, reason);
    }
    tuning->setWatchedRegion(region);
    if (!tuning->isVisible()) {
        placeBeside(*tuning, *this);
    }
    tuning->show();
    tuning->raise();
}

void Kavrit::addShortcuts() {
    // Help's usual key besides the window's own, and the usual way out.
    ui.actionDocumentation->setShortcuts(
        {ui.actionDocumentation->shortcut(), QKeySequence::HelpContents});
    auto* quit = new QAction(tr("Quit"), this);
    quit->setObjectName(QStringLiteral("actionQuit"));
    quit->setShortcut(QKeySequence::Quit);
    ui.menuFile->addSeparator();
    ui.menuFile->addAction(quit);
    connect(quit, &QAction::triggered, this, &QWidget::close);
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

void Kavrit::addStopButton() {
    // Beside Start, which is where a user looks for it; Escape does the same.
    stopButton = new QPushButton(tr("Stop"), ui.centralWidget);
    stopButton->setObjectName(QStringLiteral("pushButton_stop"));
    stopButton->setEnabled(false);
    connect(stopButton, &QPushButton::clicked, this, [this] { runThread->requestStop(); });
}

void Kavrit::arrangeForm() {
    // The form was drawn for a screen of its own: its picture alone took 351 pixels of height,
    // and with the bars of a Linux desktop the window did not fit a laptop's 768. Its widgets
    // keep their order, read top to bottom and left to right: the picture, smaller, beside
    // the paths, the threshold with its slider, Detailed Output with Start and Stop, and the
    // progress bar. The form takes the height it needs and no more; the results below get
    // the rest.
    QLabel* picture = ui.label;
    picture->setFixedSize(kPictureSide, kPictureSide);
    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(ui.label_threshold);
    thresholdRow->addWidget(ui.horizontalSlider_thresholdSlider, 1);
    thresholdRow->addWidget(tuneButton);
    ui.label_threshold->setMinimumWidth(
        ui.label_threshold->fontMetrics().horizontalAdvance(QStringLiteral("Threshold: 50")) +
        kFormSpacing);
    auto* startRow = new QHBoxLayout;
    startRow->addWidget(ui.radioButton_detailedOutput);
    startRow->addStretch(1);
    startRow->addWidget(ui.pushButton);
    startRow->addWidget(stopButton);
    // Hidden until the first run, without the form changing height when it shows.
    QSizePolicy barPolicy = ui.progressBar_kavritProgress->sizePolicy();
    barPolicy.setRetainSizeWhenHidden(true);
    ui.progressBar_kavritProgress->setSizePolicy(barPolicy);
    auto* column = new QVBoxLayout;
    column->setSpacing(kFormSpacing);
    column->addWidget(ui.horizontalLayoutWidget);
    column->addWidget(ui.horizontalLayoutWidget_2);
    column->addLayout(thresholdRow);
    column->addLayout(startRow);
    column->addWidget(ui.progressBar_kavritProgress);
    auto* form = new QHBoxLayout(ui.centralWidget);
    form->setObjectName(QStringLiteral("formLayout"));
    form->setContentsMargins(kFormMargin, kFormMargin, kFormMargin, kFormMargin);
    form->setSpacing(2 * kFormSpacing);
    form->addWidget(picture, 0, Qt::AlignTop);
    form->addLayout(column, 1);
    // The form's tool bar holds nothing: it stays in its place, out of sight, rather than take
    // a strip of the height.
    ui.mainToolBar->hide();
    ui.centralWidget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    ui.centralWidget->setMaximumHeight(ui.centralWidget->minimumSizeHint().height());
    setMinimumSize(minimumSizeHint());
    // Opened at the form's size, the results would show three events; a window the size of a
    // small laptop's screen, where the screen has the room, shows them with room to spare.
    QSize opening = size().expandedTo(kOpeningSize);
    if (const QScreen* shown = screen()) {
        opening = opening.boundedTo(shown->availableGeometry().size() - QSize(0, kTitleBar));
    }
    resize(opening.expandedTo(minimumSize()));
}

Kavrit::~Kavrit() {
    // The thread is a child of the window, but the run it may still be doing uses the
    // detector, which goes first.
    runThread->requestStop();
    runThread->wait();
    if (clipThread != nullptr) {
        clipsStop = true;
        clipThread->wait();
    }
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
    std::string reason;
    if (!mask.isEmpty() &&
        !pelmora::WatchedRegion::load(mask.toStdString(), settings.watched, reason)) {
        warn(tr("Cannot read the watched region %1: %2").arg(mask, QString::fromStdString(reason)));
        return;
    }
    // The question is of a run that is to happen: a video that does not open is said first,
    // as the run would say it, and nothing is asked.
    {
        pelmora::VideoSource probe;
        std::string reason;
        if (!probe.open(videoPath, reason)) {
            const QString failure =
                tr("Failed to open %1: %2")
                    .arg(QString::fromStdString(videoPath), QString::fromStdString(reason));
            // On the error stream too, as a run that failed to open says it.
            pelmora::RunLog().write(pelmora::LogKind::Failure, failure.toStdString() + "\n");
            failedStart(failure);
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
    if (report.status == Status::OpenFailed || report.status == Status::OutputUnusable) {
        failedStart(report.status == Status::OpenFailed
                        ? tr("Failed to open %1: %2")
                              .arg(QString::fromStdString(videoPath),
                                   QString::fromStdString(report.openError))
                        : tr("Cannot save snapshots in %1: %2")
                              .arg(QString::fromStdString(report.outputDir),
                                   QString::fromStdString(report.outputError)));
        return;
    }
    const bool reported = recordsOfRun.report &&
                          (report.status == Status::Finished || report.status == Status::Stopped);
    results->finishRun(report, reported ? QString::fromStdString(pelmora::joinPath(
                                              report.outputDir, pelmora::kReportName))
                                        : QString());
    QStringList said{runSummary(report, seconds)};
    if (report.start.known()) {
        // Where the clock times of the events come from, so a wrong one can be told.
        said << tr("first frame at %1, %2")
                    .arg(QString::fromStdString(
                             pelmora::readableClockTime(report.start.utcMs, report.start.zone)),
                         QString::fromUtf8(pelmora::startSourceText(report.start.source)));
    }
    said += problemsOf(result);
    runSummaryLabel->setText(said.join(QStringLiteral("; ")));
    QStringList tip = said;
    if (!runLines.isEmpty()) {
        tip << QString() << runLines;
    }
    runSummaryLabel->setToolTip(tip.join(QLatin1Char('\n')));
    cutEncodedButton->setVisible(!failedClips.empty() &&
                                 lastSettings.records.clipMode == pelmora::ClipMode::Copy);
    if (report.status == Status::Failed) {
        warn(tr("Failed to read %1: %2")
                 .arg(QString::fromStdString(videoPath), QString::fromStdString(report.failure)));
        return;
    }
    if (report.snapshotsLost > 0) {
        const QString snapshots = report.snapshotsLost == 1
                                      ? tr("1 snapshot")
                                      : tr("%1 snapshots").arg(report.snapshotsLost);
        warn(tr("%1 could not be saved in %2.")
                 .arg(snapshots, QString::fromStdString(report.outputDir)));
    }
}

QStringList Kavrit::problemsOf(const pelmora::VideoRunResult& result) {
    QStringList problems;
    // The clips first: they have a button of their own.
    failedClips.clear();
    QStringList clipPaths;
    for (const pelmora::ClipOutcome& clip : result.clips) {
        if (!clip.saved) {
            failedClips.push_back(clip);
            clipPaths << QString::fromStdString(
                pelmora::joinPath(result.report.outputDir, clip.file));
        }
    }
    if (!failedClips.empty()) {
        const pelmora::ClipOutcome& first = failedClips.front();
        const QString count = failedClips.size() == 1
                                  ? tr("1 clip could not be cut")
                                  : tr("%1 clips could not be cut").arg(failedClips.size());
        problems << tr("%1 (%2: %3)")
                        .arg(count, QString::fromStdString(first.file),
                             QString::fromStdString(first.error));
    } else if (result.clipsLost > 0) {
        problems << (result.clipsLost == 1 ? tr("1 clip was not cut")
                                           : tr("%1 clips were not cut").arg(result.clipsLost));
    }
    // Then every other failure as it was said: a list, a report, a snapshot, a record. A
    // snapshot lost is counted by the summary already; its reason is said once.
    bool snapshotSaid = false;
    for (const QString& line : runFailures) {
        const bool aboutClip =
            std::any_of(clipPaths.begin(), clipPaths.end(),
                        [&line](const QString& path) { return line.contains(path); });
        const bool aboutSnapshot = line.startsWith(QLatin1String("Failed to save")) && !aboutClip;
        // A video that could not be read through says so in the summary already.
        const bool aboutReading = line.startsWith(QLatin1String("Failed to read "));
        if (aboutClip || aboutReading || (aboutSnapshot && snapshotSaid)) {
            continue;
        }
        snapshotSaid = snapshotSaid || aboutSnapshot;
        problems << line;
    }
    if (result.earlierSnapshots > 0) {
        problems << (result.earlierSnapshots == 1
                         ? tr("1 snapshot of an earlier run is still in the folder")
                         : tr("%1 snapshots of an earlier run are still in the folder")
                               .arg(result.earlierSnapshots));
    }
    return problems;
}

void Kavrit::cutClipsEncoded() {
    if (isRunning() || clipThread != nullptr || failedClips.empty()) {
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
    // Closing the window abandons the clips not yet complete.
    clipsStop = false;
    request.stopRequested = [this] { return clipsStop.load(); };
    clipThread = QThread::create([this, request] {
        const pelmora::ClipResults cut = pelmora::writeClips(request);
        QMetaObject::invokeMethod(
            this, [this, cut] { clipsEncoded(cut); }, Qt::QueuedConnection);
    });
    clipThread->setParent(this);
    connect(clipThread, &QThread::finished, this, [this] {
        clipThread->deleteLater();
        clipThread = nullptr;
    });
    clipThread->start();
}

void Kavrit::clipsEncoded(const pelmora::ClipResults& cut) {
    cutEncodedButton->setEnabled(true);
    ui.pushButton->setEnabled(true);
    ui.actionRun->setEnabled(true);
    results->setClips(cut.clips);
    failedClips.clear();
    QStringList lines;
    for (const pelmora::ClipOutcome& clip : cut.clips) {
        const std::string path = pelmora::joinPath(
            pelmora::VideoJob::snapshotFolder(lastSettings.videoPath, lastSettings.outputDir),
            clip.file);
        // The same lines as a run's, on the error stream too.
        const std::string line =
            clip.saved ? "[" + path + "]" : "Failed to save " + path + ": " + clip.error;
        std::fprintf(stderr, "%s\n", line.c_str());
        lines << QString::fromStdString(line);
        if (!clip.saved) {
            failedClips.push_back(clip);
        }
    }
    const auto saved = static_cast<long long>(cut.clips.size() - failedClips.size());
    QString text = saved == 1 ? tr("1 clip cut encoded") : tr("%1 clips cut encoded").arg(saved);
    if (!failedClips.empty()) {
        text += tr("; %1 could not be cut (%2: %3)")
                    .arg(failedClips.size())
                    .arg(QString::fromStdString(failedClips.front().file),
                         QString::fromStdString(failedClips.front().error));
    }
    runSummaryLabel->setText(text);
    runSummaryLabel->setToolTip(lines.join(QLatin1Char('\n')));
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
    auto* view = new QTextBrowser();
    // Each help window is independent of the main window; it frees itself when closed, and
    // does not keep the program running once the main window is closed.
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->setAttribute(Qt::WA_QuitOnClose, false);
    view->setWindowIcon(windowIcon());
    // The guide is compiled in; only a link out of it needs the desktop's browser.
    view->setOpenExternalLinks(true);
    view->setSource(QUrl(QString::fromLatin1(kDocumentationAddress)));
    view->setWindowTitle(view->documentTitle());
    // Room for the guide's tables without a sideways scroll.
    view->resize(860, 720);
    view->show();
}

void Kavrit::aboutInfo() {
    QMessageBox::about(this, tr("About Pelmora"),
                       QString::fromLatin1(kAboutText) + QString::fromLatin1(pelmora::kVersion) +
                           tr(". Licensed under the GNU GPL v3 or later"));
}
