#include "BenchRuns.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <thread>
#include <vector>

#include "QualityFigures.h"

// After the standard headers: FFmpeg's want their integer constant macros in C++.
extern "C" {
#include <libavutil/avutil.h>
}

#include "ClipWriter.h"
#include "FolderNames.h"
#include "StatusLine.h"

#include "BenchClips.h"

namespace bench {

namespace fs = std::filesystem;

// Starts command with its standard output thrown away: the runs' summary lines would only get
// in the way of the table.
pid_t startQuietly(const std::vector<std::string>& command) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : command) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Runs a command to its end; its wall time and peak resident memory.
Measure runChild(const std::vector<std::string>& command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = startQuietly(command);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Measure measure;
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.peakKiB = usage.ru_maxrss;
    measure.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.front().c_str());
    }
    return measure;
}

// Runs the commands at once, each in a process of its own, until the last has ended; the wall
// time. The standard error of the last goes to errorPath.
double runAtOnce(const std::vector<std::vector<std::string>>& commands,
                 const std::string& errorPath) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            if (i + 1 == commands.size()) {
                const int error = ::open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(error, STDERR_FILENO);
            }
            std::vector<char*> argv;
            for (const std::string& argument : commands[i]) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "failed: %s\n", commands.front().front().c_str());
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the commands, each in a process of its own, atOnce of them at a time: the next starts as
// soon as one ends. The wall time until the last has ended, and the processor time of them all.
Measure runPooled(const std::vector<std::vector<std::string>>& commands, int atOnce) {
    const auto start = std::chrono::steady_clock::now();
    Measure measure;
    std::size_t started = 0;
    int running = 0;
    while (started < commands.size() || running > 0) {
        if (started < commands.size() && running < atOnce) {
            const std::vector<std::string>& command = commands[started++];
            startQuietly(command);
            ++running;
            continue;
        }
        int status = 0;
        rusage usage{};
        if (::wait4(-1, &status, 0, &usage) < 0) {
            break;
        }
        --running;
        measure.cpuSeconds +=
            static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        measure.peakKiB = std::max(measure.peakKiB, usage.ru_maxrss);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "failed: %s\n", commands.front().front().c_str());
        }
    }
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return measure;
}

SplitMeasure bestSplit(const std::string& scan, const std::string& video, int repetitions,
                       const std::string& dir) {
    SplitMeasure result;
    const std::string said = dir + ".join-log";
    for (int i = 0; i < repetitions; ++i) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        ::sync();
        SplitMeasure each;
        each.stretches = runAtOnce({{scan, "-q", "-t", "20", "--segment", "0/2", "-o", dir, video},
                                    {scan, "-q", "-t", "20", "--segment", "1/2", "-o", dir, video}},
                                   "/dev/null");
        each.join = runAtOnce({{scan, "-q", "-t", "20", "--join", dir}}, said);
        long long again = 0;
        long long frames = 0;
        std::ifstream in(said);
        for (std::string line; std::getline(in, line);) {
            const std::string::size_type at = line.rfind(": ");
            if (line.rfind("Joined ", 0) == 0 && at != std::string::npos) {
                std::sscanf(line.c_str() + at, ": %lld of %lld", &again, &frames);
            }
        }
        each.scannedAgain = frames > 0 ? static_cast<double>(again) / frames : 0.0;
        if (i == 0 || each.stretches + each.join < result.stretches + result.join) {
            result = each;
        }
    }
    fs::remove(said);
    return result;
}

// The best of several runs, each into an emptied folder.
Measure best(const std::vector<std::string>& command, int repetitions, const std::string& dir) {
    Measure result;
    for (int i = 0; i < repetitions; ++i) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Let the filesystem finish with the files just removed before the next run starts.
        ::sync();
        const Measure each = runChild(command);
        if (i == 0 || each.seconds < result.seconds) {
            result.seconds = each.seconds;
            result.cpuSeconds = each.cpuSeconds;
        }
        result.peakKiB = std::max(result.peakKiB, each.peakKiB);
    }
    return result;
}

long long frameCount(const std::string& video) {
    cv::VideoCapture capture(video, cv::CAP_FFMPEG);
    long long frames = 0;
    cv::Mat frame;
    while (capture.grab()) {
        ++frames;
    }
    return frames;
}

std::size_t snapshotCount(const std::string& dir) {
    std::size_t count = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        // The run's record lies beside its snapshots.
        count += pelmora::isSnapshotFileName(entry.path().filename().string()) ? 1 : 0;
    }
    return count;
}

// The value after key and the separator on the first line of file that has them, without its
// quotes; empty where no line has.
std::size_t clipCount(const std::string& dir) {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        count += pelmora::isClipFileName(entry.path().filename().string()) ? 1 : 0;
    }
    return count;
}

std::string firstValue(const std::string& file, const std::string& key, char separator) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::string::size_type at = line.find(separator);
        if (at == std::string::npos || line.compare(0, key.size(), key) != 0 ||
            line.find_first_not_of(" \t", key.size()) != at) {
            continue;
        }
        std::string value = line.substr(at + 1);
        value.erase(0, value.find_first_not_of(" \t\""));
        value.erase(value.find_last_not_of(" \t\"") + 1);
        return value;
    }
    return std::string();
}

// The processor, the memory, the system and the libraries, so that figures from different
// machines are not mistaken for each other; empty where the system does not name its processor.
std::string machine() {
    const std::string processor = firstValue("/proc/cpuinfo", "model name", ':');
    if (processor.empty()) {
        return std::string();
    }
    const double gib = static_cast<double>(::sysconf(_SC_PHYS_PAGES)) *
                       static_cast<double>(::sysconf(_SC_PAGE_SIZE)) / (1024.0 * 1024.0 * 1024.0);
    char memory[32];
    std::snprintf(memory, sizeof memory, "%.1f GiB", gib);
    std::string line = processor + ", " + memory;
    const std::string system = firstValue("/etc/os-release", "PRETTY_NAME", '=');
    if (!system.empty()) {
        line += ", " + system;
    }
    return line + "; OpenCV " + CV_VERSION + ", FFmpeg " + av_version_info();
}

// One run of each video against two stretches at once and their join.

}  // namespace bench
