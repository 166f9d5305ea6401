#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "JpegEncoder.h"

namespace pelmora {

struct WriteResult {
    bool saved = false;
    std::string reason;  // why it was not saved, in the system's words
};

// Writes one snapshot as a JPEG file, so that its name only ever holds a complete file: the
// image is encoded in memory, written under a temporary name in the same folder and renamed
// into place. A run killed half-way leaves at most a temporary file, whose hidden name never
// looks like a snapshot's; a failed write leaves nothing. A writer keeps its encoding buffer
// for the next snapshot; one writer serves one thread.
class SnapshotWriter {
public:
    WriteResult write(const std::string& path, const cv::Mat& image);

private:
    JpegEncoder encoder;
    std::vector<uchar> encoded;
};

}  // namespace pelmora
