#pragma once

#include <QMainWindow>
#include <QStringList>
#include <string>

#include "FrameDetector.h"
#include "ui_Kavrit.h"

class QLabel;

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

public slots:
    void goButton();
    void launchVideoSelectDialog();
    void launchDirectorySelectDialog();
    void thresholdHandler();
    // A plain slot, reachable only by name; closing the window does not call it.
    void closeEvent();
    void openDocumentation();
    void aboutInfo();

private:
    void fitWindowToForm();
    void runDetailed();
    void run(bool detailed);
    void reportRun(const pelmora::RunReport& report, double seconds);
    void warn(const QString& text);

    std::string videoPath;
    std::string outputDir;
    Ui_KavritClass ui;
    pelmora::FrameDetector detector;
    // In the status bar: what the last run did, until the next one starts.
    QLabel* runSummaryLabel = nullptr;
    // The window handles its events between frames; Start must not begin a run inside a run.
    bool running = false;
};
