#pragma once

#include <string>

// run_bench search: the object index and the search of it (see SearchFigures.cpp), its clips
// made in dir; its table on the standard output. 0, or 1 when a clip or a run failed.
int searchFigures(const std::string& scan, const std::string& dir, int repetitions);
