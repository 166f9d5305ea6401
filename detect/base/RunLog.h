#pragma once

#include "RunMessage.h"

namespace pelmora {

// Where a run's messages go. By default each goes to the standard error stream as its line, as
// it happens; a front end may redraw around them, drop the saved-file lines, or keep the
// messages to count and group them by kind.
class RunLog {
public:
    virtual ~RunLog() = default;
    virtual void tell(const RunMessage& message);
};

}  // namespace pelmora
