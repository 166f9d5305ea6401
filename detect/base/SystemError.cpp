#include "SystemError.h"

#include <system_error>

namespace pelmora {

std::string systemError(int error) {
    return std::generic_category().message(error);
}

}  // namespace pelmora
