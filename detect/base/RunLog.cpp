#include "RunLog.h"

#include <cstdio>

namespace pelmora {

void RunLog::write(LogKind, const std::string& line) {
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace pelmora
