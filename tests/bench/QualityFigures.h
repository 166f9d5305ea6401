#pragma once

#include <string>

// run_bench quality: the labelled benchmark of both detectors (see QualityFigures.cpp), its
// clips made in dir; its table on the standard output. 0, or 1 when a clip or a run failed.
int qualityFigures(const std::string& scan, const std::string& dir);
