#pragma once

#include <QObject>

#include "DetectionRun.h"

class QProgressBar;
class QWidget;

// Drives a run from the main window: the bar follows the progress, the window keeps
// repainting between frames, and Escape typed into the window (or into a display window of a
// detailed run) or closing the window stops the run after the current frame.
class GuiRunHost : public QObject, public pelmora::RunHost {
public:
    GuiRunHost(QWidget& window, QProgressBar& progressBar, bool detailed);
    ~GuiRunHost() override;

    void progress(int percent) override;
    bool stopAfterFrame() override;

    bool windowClosed() const { return closed; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window;
    QProgressBar& progressBar;
    const bool detailed;
    bool stopRequested = false;
    bool closed = false;
};
