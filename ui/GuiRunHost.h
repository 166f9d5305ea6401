#pragma once

#include <QObject>
#include <QStringList>

#include "DetectionRun.h"

class QProgressBar;
class QWidget;

// Drives a run from the main window: the bar follows the progress, the window keeps
// repainting between frames, and Escape typed into the window (or into a display window of a
// detailed run), closing a display window or closing the window stops the run after the
// current frame. A stopped run leaves the bar where the last frame done put it.
class GuiRunHost : public QObject, public pelmora::RunHost {
public:
    // displayTitles: the titles of a detailed run's display windows; empty for a quiet run.
    GuiRunHost(QWidget& window, QProgressBar& progressBar, QStringList displayTitles);
    ~GuiRunHost() override;

    void progress(int percent) override;
    bool stopAfterFrame() override;

    bool windowClosed() const { return closed; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isDisplayWindow(QObject* object) const;

    QWidget& window;
    QProgressBar& progressBar;
    const QStringList displayTitles;
    bool stopRequested = false;
    bool stopped = false;
    bool closed = false;
};
