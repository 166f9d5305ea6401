#pragma once

#include <QString>

#include "RunFolder.h"

class QWidget;

// What the user wants done with the snapshots and clips an earlier run left in the folder a
// new run is about to write into.
enum class EarlierRunChoice { Remove, Keep, Cancel };

// Asks, when folder holds snapshots or clips of an earlier run, whether to remove them first;
// Keep when there is nothing to ask about. Kept ones stay beside the new run's, but its lists
// and report name its own alone.
EarlierRunChoice askAboutEarlierRun(QWidget* parent, const QString& folder,
                                    const pelmora::EarlierRun& earlier);
