#pragma once

#include <QString>

#include "DetectionRun.h"

// What the status bar says once a run that opened its video is over: how many snapshots went
// where, how many were lost, and how far the run got in how long.
QString runSummary(const pelmora::RunReport& report, double seconds);
