#include "SnapshotWriter.h"

#include <opencv2/imgcodecs.hpp>

#include "FileOutput.h"

namespace pelmora {

WriteResult SnapshotWriter::write(const std::string& path, const cv::Mat& image) {
    WriteResult result;
    try {
        // Frames are colour; anything else goes through the imaging library's writer, which
        // gives the same bytes as saving the file directly.
        if (image.type() == CV_8UC3) {
            if (!encoder.encode(image, encoded, result.reason)) {
                return result;
            }
        } else if (!cv::imencode(".jpg", image, encoded)) {
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
