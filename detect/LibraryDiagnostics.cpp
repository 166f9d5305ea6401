#include "LibraryDiagnostics.h"

#include <opencv2/core/utils/logger.hpp>

namespace pelmora {

void silenceLibraryDiagnostics() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
}

}  // namespace pelmora
