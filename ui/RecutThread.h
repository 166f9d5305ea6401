#pragma once

#include <QThread>
#include <atomic>
#include <vector>

#include "ClipWriter.h"
#include "RunThread.h"

// Clips cut again on a thread of their own, as a run goes on RunThread's: the window never waits
// for them, and what was cut comes back as a queued signal. A stop abandons the clips not yet
// complete.
class RecutThread : public QThread {
    Q_OBJECT

public:
    explicit RecutThread(QObject* parent = nullptr);
    // Abandons the clips not yet complete, and waits for the thread.
    ~RecutThread() override;

    // Starts cutting; false while clips are still being cut.
    bool startCutting(const pelmora::ClipRequest& clips);

signals:
    void clipsCut(const std::vector<pelmora::ClipOutcome>& clips);

protected:
    void run() override;

private:
    pelmora::ClipRequest request;
    std::atomic<bool> stopRequested{false};
};
