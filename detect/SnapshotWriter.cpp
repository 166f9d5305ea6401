#include "SnapshotWriter.h"

#include <opencv2/imgcodecs.hpp>

#include "FileOutput.h"

namespace pelmora {

WriteResult SnapshotWriter::write(const std::string& path, const cv::Mat& image) {
    WriteResult result;
    try {
        // The same encoder and parameters as writing the file directly: the same bytes.
        if (!cv::imencode(".jpg", image, encoded)) {
            result.reason = "the image could not be encoded";
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
