#pragma once

// The built pelmora-scan run as a user or a script runs it, for the tests of the command-line
// tool: its output streams read apart, its exit status or the signal that ended it.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "ProgramPaths.h"

extern char** environ;

namespace clitest {

struct ScanResult {
    int exitCode = -1;   // -1 unless the process exited by itself
    int termSignal = 0;  // the signal that killed it, if one did
    std::string out;
    std::string err;
};

// One run of pelmora-scan, stdin from /dev/null and the two output streams read separately.
class ScanProcess {
public:
    // wrapper, when given, is a command that runs the scan (as another user, say).
    explicit ScanProcess(const std::vector<std::string>& arguments,
                         const std::string& workDir = std::string(),
                         const std::vector<std::string>& wrapper = {}) {
        int outPipe[2];
        int errPipe[2];
        if (::pipe2(outPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            return;
        }
        if (::pipe2(errPipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << std::strerror(errno);
            ::close(outPipe[0]);
            ::close(outPipe[1]);
            return;
        }
        // A small pipe makes the scan wait on its own lines until they are read, so a test
        // that holds back reading also holds back the scan.
        ::fcntl(errPipe[0], F_SETPIPE_SZ, 4096);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
        if (!workDir.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        }
        // Whatever the test runner ignores or blocks, the scan gets SIGINT as a terminal
        // would deliver it.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t noSignals;
        sigemptyset(&noSignals);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            sigaddset(&defaults, signal);
        }
        posix_spawnattr_setsigmask(&attributes, &noSignals);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        std::vector<std::string> storage = wrapper;
        storage.push_back(testsupport::kScanProgram);
        storage.insert(storage.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& argument : storage) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);

        const int spawnError =
            ::posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        outFd = outPipe[0];
        errFd = errPipe[0];
        if (spawnError != 0) {
            ADD_FAILURE() << "posix_spawn " << testsupport::kScanProgram << ": "
                          << std::strerror(spawnError);
            pid = -1;
        }
    }

    ~ScanProcess() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        closeFd(outFd);
        closeFd(errFd);
    }

    ScanProcess(const ScanProcess&) = delete;
    ScanProcess& operator=(const ScanProcess&) = delete;

    // Reads until the error stream holds a whole line starting with prefix; false when the
    // streams close first.
    bool readUntilErrorLine(const std::string& prefix) {
        while (true) {
            std::string::size_type start = 0;
            while (start < err.size()) {
                const std::string::size_type end = err.find('\n', start);
                if (end == std::string::npos) {
                    break;
                }
                if (err.compare(start, prefix.size(), prefix) == 0) {
                    return true;
                }
                start = end + 1;
            }
            if (!pump()) {
                return false;
            }
        }
    }

    pid_t id() const { return pid; }

    void sendSignal(int signal) {
        if (pid > 0) {
            ::kill(pid, signal);
        }
    }

    // Reads both streams to their end and reaps the process.
    ScanResult finish() {
        while (pump()) {
        }
        ScanResult result;
        if (pid > 0) {
            int status = 0;
            pid_t reaped;
            do {
                reaped = ::waitpid(pid, &status, 0);
            } while (reaped < 0 && errno == EINTR);
            EXPECT_EQ(reaped, pid) << "the scan was not reaped";
            pid = -1;
            if (WIFEXITED(status)) {
                result.exitCode = WEXITSTATUS(status);
            } else if (WIFSIGNALED(status)) {
                result.termSignal = WTERMSIG(status);
            }
        }
        result.out = out;
        result.err = err;
        return result;
    }

private:
    static void closeFd(int& fd) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }

    // One wait for output; false once both streams are closed.
    bool pump() {
        struct Stream {
            int* fd;
            std::string* text;
        };
        Stream streams[2];
        pollfd fds[2];
        nfds_t count = 0;
        for (const Stream stream : {Stream{&outFd, &out}, Stream{&errFd, &err}}) {
            if (*stream.fd >= 0) {
                streams[count] = stream;
                fds[count] = {*stream.fd, POLLIN, 0};
                ++count;
            }
        }
        if (count == 0) {
            return false;
        }
        if (::poll(fds, count, -1) < 0) {
            return errno == EINTR;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                streams[i].text->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                closeFd(*streams[i].fd);
            }
        }
        return true;
    }

    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
    std::string out;
    std::string err;
};

inline ScanResult runScan(const std::vector<std::string>& arguments,
                          const std::string& workDir = std::string()) {
    ScanProcess process(arguments, workDir);
    return process.finish();
}

}  // namespace clitest
