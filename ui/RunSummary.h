#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "ClipWriter.h"
#include "DetectionRun.h"
#include "RunMessage.h"
#include "VideoRun.h"

// What the status bar says once a run that opened its video is over: how many snapshots went
// where, how many were lost, and how far the run got in how long.
QString runSummary(const pelmora::RunReport& report, double seconds);

// Why a run did not start: its video did not open, or its folder takes no files.
QString startFailure(const pelmora::RunReport& report, const std::string& videoPath);
// Where the first frame stands on the clock and where that came from, so a wrong start can be
// told; for a report whose start is known.
QString startLine(const pelmora::RunReport& report);
// What a dialog says after the run: a video not read through, or snapshots lost; or nothing.
QString runWarning(const pelmora::RunReport& report, const std::string& videoPath);

// A message of a file that could not be saved: a snapshot, a clip or another; a run that loses
// many says it many times, and the window keeps a few.
bool fileNotSaved(const pelmora::RunMessage& message);

// The problems a run's result and its failure messages tell, each once: the clips that could
// not be cut first (they are put in failedClips, for cutting again), then every other failure
// as it was said, a snapshot's reason once, and the earlier run's snapshots still in the folder.
QStringList runProblems(const pelmora::VideoRunResult& result,
                        const std::vector<pelmora::RunMessage>& failures,
                        std::vector<pelmora::ClipOutcome>& failedClips);

// What the status bar says of clips cut again into folder, and the lines said of each clip
// as a run says them; the clips that failed again go into failedClips.
struct RecutSummary {
    QString text;
    QStringList lines;
};
RecutSummary recutSummary(const std::vector<pelmora::ClipOutcome>& clips, const std::string& folder,
                          std::vector<pelmora::ClipOutcome>& failedClips);
