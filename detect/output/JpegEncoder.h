#pragma once

#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace pelmora {

// Encodes colour frames as JPEG, byte for byte as the imaging library's own writer does with
// its defaults (baseline, quality 95, 4:2:0), but without its costs: libjpeg reads the
// blue-green-red rows directly instead of a converted copy of each, and the output goes into a
// buffer kept from one image to the next instead of one grown afresh for each. At the rate a run
// saves frames, those costs were about a sixth of the encoding. One encoder serves one thread.
class JpegEncoder {
public:
    // At the imaging library's default quality unless told another (1 to 100): a thumbnail
    // need not keep what a snapshot keeps.
    explicit JpegEncoder(int quality = 95);
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // image is 8-bit with three channels. Replaces out with the file's bytes; libjpeg's
    // reason when it refuses (an image too large for JPEG, say), empty when it encoded.
    std::string encode(const cv::Mat& image, std::vector<uchar>& out);

private:
    struct Compressor;
    std::unique_ptr<Compressor> compressor;
    int quality;
};

}  // namespace pelmora
