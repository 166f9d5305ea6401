#include "AvError.h"

extern "C" {
#include <libavutil/error.h>
}

namespace pelmora {

std::string avErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

std::string localFileUrl(const std::string& path) {
    return "file:" + path;
}

}  // namespace pelmora
