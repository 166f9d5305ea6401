#include "Kavrit.h"

#include <QApplication>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTextBrowser>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>

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

namespace {

// The room left between the form's widgets and the edges of the central area when the form
// would not fit otherwise: the form's own layout margin.
constexpr int kFormMargin = 11;
const char* const kDocumentationAddress = "qrc:///Kavrit/PelmoraDocumentation.html";

// Blocks separated by '\n', the release line last and without a line end: the version that
// ends it is the build's own (see aboutInfo).
const char* const kAboutText =
    "Developed by the Pelmora lead developer and the Pelmora interface developer.\n"
    "\n"
    "Earlier frame-difference code provided by the Pelmora prototype group.\n"
    "\n"
    "Faculty Sponsors:\n"
    "\tProfessor, Pelmora Chair of Computer Vision\n"
    "\tAssociate Professor, Pelmora Chair of Imaging\n"
    "\tLecturer, Pelmora Software Studio.\n"
    "\n"
    "\n"
    "Pelmora Imaging Laboratory\n"
    "All rights reserved.\n"
    "\n"
    "\n"
    "Beta Release ";

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
    // The form was laid out for a smaller system font than Linux desktops use; rather than
    // cut "Detailed Output" short, the button grows to the right just enough to show it.
    QRadioButton* detailed = ui.radioButton_detailedOutput;
    detailed->resize(std::max(detailed->width(), detailed->sizeHint().width()), detailed->height());
    runSummaryLabel = new QLabel(ui.statusBar);
    runSummaryLabel->setObjectName(QStringLiteral("label_runSummary"));
    // A long folder name is cut at the right rather than widening the window.
    runSummaryLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // A normal status bar widget, so that the status tips of the menus only cover it for a
    // while instead of wiping it.
    ui.statusBar->addWidget(runSummaryLabel, 1);
    runThread = new RunThread(detector, this);
    addStopButton();
    addShortcuts();
    addPanels();
    setAcceptDrops(true);
    fitWindowToForm();
    for (QWidget* widget :
         ui.centralWidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        formPlaces.append({widget, widget->geometry()});
    }
    ui.centralWidget->installEventFilter(this);
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
    connect(runThread, &RunThread::runStarted, results, [this](const pelmora::RunFacts& facts) {
        results->beginRun(facts, recordsOfRun.eventGapMs);
    });
    connect(runThread, &RunThread::recordsGrew, results, &ResultsPanel::addRecords);
    connect(runThread, &RunThread::clipsCut, results, &ResultsPanel::setClips);

    // Beside the threshold it tunes.
    auto* tune = new QPushButton(tr("Tune..."), ui.centralWidget);
    tune->setObjectName(QStringLiteral("pushButton_tune"));
    tune->setToolTip(tr("Try thresholds on the video's own frames"));
    const QRect slider = ui.horizontalSlider_thresholdSlider->geometry();
    tune->setGeometry(slider.right() + 12, slider.center().y() - 12, 75, 25);
    connect(tune, &QPushButton::clicked, this, &Kavrit::openTuning);
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
    pelmora::WatchedRegion region;
    std::string reason;
    if (!options->maskPath().isEmpty()) {
        pelmora::WatchedRegion::load(options->maskPath().toStdString(), region, reason);
    }
    tuning->setWatchedRegion(region);
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
    const QRect start = ui.pushButton->geometry();
    stopButton->setGeometry(start.translated(start.width() + 6, 0));
    stopButton->setEnabled(false);
    connect(stopButton, &QPushButton::clicked, this, [this] { runThread->requestStop(); });
}

void Kavrit::fitWindowToForm() {
    // The form's widgets are placed by hand for a smaller system font: with the taller menu
    // bar, tool bar and status bar of Linux desktops, a window of the form's size cuts off the
    // progress bar. The central area gets at least the room its widgets reach, and the window
    // can never be made smaller than that.
    QRect reach;
    for (QWidget* widget :
         ui.centralWidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        reach |= widget->geometry();
    }
    ui.centralWidget->setMinimumSize(reach.right() + 1 + kFormMargin,
                                     reach.bottom() + 1 + kFormMargin);
    setMinimumSize(minimumSizeHint());
    resize(size().expandedTo(minimumSize()));
}

Kavrit::~Kavrit() {
    // The thread is a child of the window, but the run it may still be doing uses the
    // detector, which goes first.
    runThread->requestStop();
    runThread->wait();
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
    settings.records = options->recordOptions();
    recordsOfRun = settings.records;
    const QString mask = options->maskPath();
    std::string reason;
    if (!mask.isEmpty() &&
        !pelmora::WatchedRegion::load(mask.toStdString(), settings.watched, reason)) {
        warn(tr("Cannot read the watched region %1: %2").arg(mask, QString::fromStdString(reason)));
        return;
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
    ui.pushButton->setEnabled(false);
    ui.actionRun->setEnabled(false);
    stopButton->setEnabled(true);
    resultsDock->raise();
    // The last run's end has reached the window; its thread may still be returning.
    runThread->wait();
    runGoing = runThread->startRun(settings);
}

void Kavrit::runEnded(const pelmora::VideoRunResult& result, double seconds) {
    const pelmora::RunReport& report = result.report;
    runGoing = false;
    ui.pushButton->setEnabled(true);
    ui.actionRun->setEnabled(true);
    stopButton->setEnabled(false);
    if (closing) {
        return;
    }
    const bool reported =
        recordsOfRun.report && (report.status == pelmora::RunReport::Status::Finished ||
                                report.status == pelmora::RunReport::Status::Stopped);
    results->finishRun(report, reported ? QString::fromStdString(pelmora::joinPath(
                                              report.outputDir, pelmora::kReportName))
                                        : QString());
    reportRun(report, seconds);
}

void Kavrit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && isRunning()) {
        runThread->requestStop();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Kavrit::followWidth() {
    // Wider than the form: the path fields and the bar take the room, and the controls under
    // them stay centred below them. The picture stays where it is.
    const int extra = std::max(0, ui.centralWidget->width() - ui.centralWidget->minimumWidth());
    for (const auto& [widget, place] : formPlaces) {
        if (widget == ui.label) {
            continue;
        }
        const bool stretches = widget == ui.horizontalLayoutWidget ||
                               widget == ui.horizontalLayoutWidget_2 ||
                               widget == ui.progressBar_kavritProgress;
        widget->setGeometry(stretches ? place.adjusted(0, 0, extra, 0)
                                      : place.translated(extra / 2, 0));
    }
}

bool Kavrit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui.centralWidget && event->type() == QEvent::Resize) {
        followWidth();
    }
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

void Kavrit::reportRun(const pelmora::RunReport& report, double seconds) {
    using Status = pelmora::RunReport::Status;
    if (report.status == Status::OpenFailed || report.status == Status::OutputUnusable) {
        // A run that never started must not go on showing the 100 of the run before it.
        ui.progressBar_kavritProgress->setValue(0);
        const QString failure = report.status == Status::OpenFailed
                                    ? tr("Failed to open %1: %2")
                                          .arg(QString::fromStdString(videoPath),
                                               QString::fromStdString(report.openError))
                                    : tr("Cannot save snapshots in %1: %2")
                                          .arg(QString::fromStdString(report.outputDir),
                                               QString::fromStdString(report.outputError));
        runSummaryLabel->setText(failure);
        warn(failure);
        return;
    }
    runSummaryLabel->setText(runSummary(report, seconds));
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
