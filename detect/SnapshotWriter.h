#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace pelmora {

struct WriteResult {
    bool saved = false;
    std::string reason;  // why it was not saved, in the system's words
};

// Writes one snapshot as a JPEG file. The image is encoded in memory first, so that the file
// itself is written in one go and its failures can be told apart from the encoder's. A writer
// keeps its encoding buffer for the next snapshot; one writer serves one thread.
class SnapshotWriter {
public:
    WriteResult write(const std::string& path, const cv::Mat& image);

private:
    std::vector<uchar> encoded;
};

}  // namespace pelmora
