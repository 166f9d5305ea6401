#include "LibraryDiagnostics.h"

extern "C" {
#include <libavutil/log.h>
}

#include <opencv2/core/utils/logger.hpp>

namespace pelmora {

void setLibraryDiagnostics(bool shown) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    av_log_set_level(shown ? AV_LOG_ERROR : AV_LOG_QUIET);
}

}  // namespace pelmora
