#pragma once

#include <cstdio>
#include <string>

// The standard output as a result goes there: a summary that a full disk or a closed pipe
// swallows is a failure of the run, not a success with nothing to show.

// Writes text to out, all of it, and flushes it; 0, or the errno of the write that failed.
int putOutput(std::FILE* out, const std::string& text);

// "pelmora-scan: cannot write to the standard output: REASON" on the error stream.
void sayOutputLost(int error);
