#pragma once

#include <opencv2/core.hpp>
#include <string>

namespace pelmora {

// The part of the picture where change counts, from a picture of it: white where motion
// counts, black where it is ignored (a waving tree, a clock, a road). Light pixels (128 and
// up in grey) count, dark ones do not. Without a picture the whole frame counts.
class WatchedRegion {
public:
    WatchedRegion() = default;

    // image: 8-bit, one, three or four channels.
    static WatchedRegion fromImage(const cv::Mat& image, std::string name = std::string());
    // Reads a still picture (PNG, JPEG, BMP and the like) into region; the reason when it
    // cannot, else nothing.
    static std::string load(const std::string& path, WatchedRegion& region);

    bool wholeFrame() const { return watched.empty(); }
    // The picture's own size, and the name it was read from.
    cv::Size size() const { return watched.size(); }
    const std::string& name() const { return sourceName; }

    // The region for frames of frameSize: three channels, each byte 0 or 255, as the change
    // counter takes it. A picture of another size is scaled to it with nearest-neighbour
    // sampling, so that it stays black and white. Made once per size and kept.
    const cv::Mat& forFrames(cv::Size frameSize);

private:
    cv::Mat watched;   // one channel, 0 or 255
    cv::Mat prepared;  // for the last frame size asked for
    std::string sourceName;
};

}  // namespace pelmora
