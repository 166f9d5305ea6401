#pragma once

#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>

#include "FrameDetector.h"
#include "RecutThread.h"
#include "RunRecorder.h"
#include "RunThread.h"
#include "VideoRun.h"
#include "ui_Kavrit.h"

class DisplayView;
class QDockWidget;
class QThread;
class QToolButton;
class QLabel;
class QPushButton;
class QSettings;
class ResultsPanel;
class RunOptionsPanel;
class SearchPanel;
class TuningWindow;

namespace pelmora {
struct RunReport;
}

// The main window: paths, threshold, Start, and the detector whose reference carries over
// from one run to the next.
class Kavrit : public QMainWindow {
    Q_OBJECT

public:
    explicit Kavrit(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Kavrit() override;

    // What a file manager's "Open with" passes: the first argument after the program's name
    // (Qt has taken out its own options by then) fills the video field; nothing runs until
    // Start. Further arguments are ignored.
    void openFromArguments(const QStringList& arguments);

    // The fields and choices of the last session, and keeping them for the next.
    void restoreSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;

    // For the window's own tests and for closing: whether a run goes, from Start until the
    // window has taken in its end.
    bool isRunning() const;

public slots:
    void goButton();
    void launchVideoSelectDialog();
    void launchDirectorySelectDialog();
    void thresholdHandler();
    // A plain slot, reachable only by name; closing the window does not call it.
    void closeEvent();
    void openDocumentation();
    void aboutInfo();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void arrangeForm();
    void addStopButton();
    void addShortcuts();
    void addPanels();
    void openTuning();
    void runDetailed();
    void run(bool detailed);
    void runEnded(const pelmora::VideoRunResult& result, double seconds);
    void reportRun(const pelmora::VideoRunResult& result, double seconds);
    // A run that did not start: its reason in the status bar and a warning, the results of the
    // run before it cleared.
    void failedStart(const QString& failure);
    // What went wrong beside the summary, each as pelmora-scan says it.
    void cutClipsEncoded();
    void clipsEncoded(const std::vector<pelmora::ClipOutcome>& clips);
    void warn(const QString& text);

    std::string videoPath;
    std::string outputDir;
    Ui_KavritClass ui;
    pelmora::FrameDetector detector;
    // In the status bar: what the last run did, until the next one starts.
    QLabel* runSummaryLabel = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* tuneButton = nullptr;
    // In the status bar, while clips of the last run that could not be copied can be encoded.
    QToolButton* cutEncodedButton = nullptr;
    // The lines the last run said beside its saved files, in order, and its failures among
    // them; a run that loses many snapshots keeps only the first few.
    QStringList runLines;
    std::vector<pelmora::RunMessage> runFailures;
    // What the last run was asked for, and what the clips it failed to cut were.
    RunSettings lastSettings;
    std::vector<pelmora::ClipOutcome> failedClips;
    RecutThread* recutThread = nullptr;
    RunOptionsPanel* options = nullptr;
    ResultsPanel* results = nullptr;
    SearchPanel* search = nullptr;
    QDockWidget* resultsDock = nullptr;
    std::unique_ptr<TuningWindow> tuning;
    // What the run going on, or the last one, records in its folder.
    pelmora::RecordOptions recordsOfRun;
    RunThread* runThread = nullptr;
    // The windows of the last detailed run, kept with its last picture until the next run.
    std::unique_ptr<DisplayView> display;
    // A run stopped because the window closed says nothing when it ends.
    bool closing = false;
    // The thread may have finished before its end reached the window; until then, another
    // Start would find the run's own snapshots as an earlier run's.
    bool runGoing = false;
};
