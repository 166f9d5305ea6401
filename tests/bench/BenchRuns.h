#pragma once

// How the benchmark runs a program and measures it: wall and processor time and peak memory,
// the best of repetitions, each in a process of its own; and what a run left.

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace bench {

struct Measure {
    double seconds = 0.0;
    double cpuSeconds = 0.0;  // user and system time of all its threads
    long peakKiB = 0;

    // How many processors it kept busy on average.
    double processors() const { return seconds > 0.0 ? cpuSeconds / seconds : 0.0; }
};

struct SplitMeasure {
    double stretches = 0.0;  // the two stretches at once
    double join = 0.0;
    double scannedAgain = 0.0;  // the share of the frames the join scanned again
};

// Two stretches of the video at once, then the join, each repetition into an emptied folder;
// the best total.

// Starts command with its standard output thrown away: the runs' summary lines would only get
// in the way of the table.
pid_t startQuietly(const std::vector<std::string>& command);

// Runs a command to its end; its wall time and peak resident memory.
Measure runChild(const std::vector<std::string>& command);

// Runs the commands at once, each in a process of its own, until the last has ended; the wall
// time. The standard error of the last goes to errorPath.
double runAtOnce(const std::vector<std::vector<std::string>>& commands,
                 const std::string& errorPath);

// Runs the commands, each in a process of its own, atOnce of them at a time: the next starts as
// soon as one ends. The wall time until the last has ended, and the processor time of them all.
Measure runPooled(const std::vector<std::vector<std::string>>& commands, int atOnce);

// Two stretches of the video at once, then the join, each repetition into an emptied folder;
// the best total.
SplitMeasure bestSplit(const std::string& scan, const std::string& video, int repetitions,
                       const std::string& dir);

// The best of several runs, each into an emptied folder.
Measure best(const std::vector<std::string>& command, int repetitions, const std::string& dir);

long long frameCount(const std::string& video);

std::size_t snapshotCount(const std::string& dir);

// The value after key and the separator on the first line of file that has them, without its
// quotes; empty where no line has.
std::size_t clipCount(const std::string& dir);

std::string firstValue(const std::string& file, const std::string& key, char separator);

// The processor, the memory, the system and the libraries, so that figures from different
// machines are not mistaken for each other; empty where the system does not name its processor.
std::string machine();

}  // namespace bench
