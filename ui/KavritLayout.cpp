// How the window is put together: the form rearranged to leave the height to the results, the
// panels docked below it, and the buttons and keys added to the form.

#include "Kavrit.h"

#include <QDockWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "ResultsPanel.h"
#include "RunOptionsPanel.h"
#include "RunThread.h"
#include "SearchPanel.h"
#include "TuningWindow.h"
#include "WindowPlacement.h"

namespace {

// The form's own layout margin and spacing, and the side of its title picture: small enough
// that the form leaves most of a laptop's height to the results.
constexpr int kFormMargin = 8;
constexpr int kFormSpacing = 5;
constexpr int kPictureSide = 150;
const QSize kOpeningSize(1100, 720);

}  // namespace

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
    // Regions are drawn on the frame the tuning window shows, and it follows what is drawn.
    options->setFramePosition(
        [this] { return tuning && tuning->isVisible() ? tuning->positionMs() : 0.0; });
    connect(options, &RunOptionsPanel::regionsChanged, this, [this] {
        if (tuning && tuning->isVisible()) {
            pelmora::WatchedRegion region;
            options->watchedRegion(region);
            tuning->setWatchedRegion(region);
        }
    });

    // Above what the run found, other questions of it, after a run of the objects detector.
    auto* found = new QWidget(this);
    results = new ResultsPanel(found);
    search = new SearchPanel(*results, found);
    connect(search, &SearchPanel::told, runSummaryLabel, &QLabel::setText);
    auto* foundLayout = new QVBoxLayout(found);
    foundLayout->setContentsMargins(0, 0, 0, 0);
    foundLayout->addWidget(search);
    foundLayout->addWidget(results, 1);
    resultsDock = new QDockWidget(tr("Results"), this);
    resultsDock->setObjectName(QStringLiteral("dock_results"));
    resultsDock->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    resultsDock->setWidget(found);
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
