#pragma once

#include <string>

#include "ScanOptions.h"
#include "StopSignal.h"

// pelmora-scan --search DIR: the question of the options answered from every object index in
// DIR (one run's folder, or a batch's -o folder), into DIR/search-NAME; a folder of the same
// layout as a scan's, so that an overview can be made of it. Its exit status: 2 where a
// question cannot be answered exactly (said in one line, nothing written). The folder the
// answer went into is left in answerFolder.
int searchCommand(const ScanOptions& options, const StopSignal& stopSignal, bool terminal,
                  std::string& answerFolder);
