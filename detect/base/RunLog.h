#pragma once

#include <string>

namespace pelmora {

enum class LogKind {
    SnapshotSaved,  // "[path]", of a snapshot or any other file the run saved
    Failure,        // a video that did not open, a snapshot that was not written
    Warning,        // something the run worked around
};

// Where a run's lines go. By default each goes to the standard error stream as it happens;
// a front end may redraw around them or drop the saved-snapshot lines.
class RunLog {
public:
    virtual ~RunLog() = default;
    // line ends with its own '\n'.
    virtual void write(LogKind kind, const std::string& line);
};

}  // namespace pelmora
