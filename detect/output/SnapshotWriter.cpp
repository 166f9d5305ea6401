#include "SnapshotWriter.h"

#include "FileOutput.h"

namespace pelmora {

WriteResult SnapshotWriter::write(const std::string& path, const cv::Mat& image) {
    WriteResult result;
    try {
        // Frames are always colour.
        if (image.type() != CV_8UC3) {
            result.reason = "not a colour frame";
            return result;
        }
        result.reason = encoder.encode(image, encoded);
        if (!result.reason.empty()) {
            return result;
        }
    } catch (const cv::Exception& exception) {
        result.reason = exception.msg;
        return result;
    }
    result.reason = replaceFile(path, encoded.data(), encoded.size());
    result.saved = result.reason.empty();
    return result;
}

}  // namespace pelmora
