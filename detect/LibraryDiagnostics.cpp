#include "LibraryDiagnostics.h"

#include <cstdlib>
#include <opencv2/core/utils/logger.hpp>

namespace pelmora {

void silenceLibraryDiagnostics() {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // The library hands this to the decoder when it first opens a video: below every level the
    // decoder logs at. Someone who set it on purpose keeps their own.
    ::setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
}

}  // namespace pelmora
