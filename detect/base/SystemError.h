#pragma once

#include <string>

namespace pelmora {

// The system's text for an error number, safe on any thread.
std::string systemError(int error);

}  // namespace pelmora
