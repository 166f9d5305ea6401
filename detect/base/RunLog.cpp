#include "RunLog.h"

#include <cstdio>

namespace pelmora {

void RunLog::tell(const RunMessage& message) {
    const std::string line = messageLine(message) + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace pelmora
