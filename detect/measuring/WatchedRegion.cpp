#include "WatchedRegion.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <utility>

#include "JpegDecoder.h"
#include "PictureConverter.h"
#include "VideoSource.h"

namespace pelmora {

WatchedRegion WatchedRegion::fromImage(const cv::Mat& image, std::string name) {
    WatchedRegion region;
    region.sourceName = std::move(name);
    if (image.empty()) {
        return region;
    }
    cv::Mat grey;
    if (image.channels() == 1) {
        grey = image;
    } else {
        cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    }
    cv::threshold(grey, region.watched, 127.0, 255.0, cv::THRESH_BINARY);
    return region;
}

namespace {

constexpr const char* kUnreadablePicture = "not a picture that can be read";

}  // namespace

std::string WatchedRegion::load(const std::string& path, WatchedRegion& region) {
    // The imaging library says nothing about why it could not read a file; the file system
    // can, for the usual reasons.
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::strerror(errno);
    }
    // The picture is decoded as the frames are, which keeps the picture-file libraries of the
    // imaging library, and the time a process takes to load them, out of the program.
    if (looksLikeJpeg(path)) {
        cv::Mat grey;
        if (!readJpegGrey(path, grey).empty()) {
            return kUnreadablePicture;
        }
        region = fromImage(grey, path);
        return std::string();
    }
    VideoSource source;
    Picture picture;
    PictureConverter converter;
    cv::Mat image;
    if (!source.open(path, 1).empty() || !source.isStillPicture() || !source.next(picture) ||
        !converter.convert(picture, image)) {
        return kUnreadablePicture;
    }
    region = fromImage(image, path);
    return std::string();
}

const cv::Mat& WatchedRegion::forFrames(cv::Size frameSize) {
    if (prepared.size() != frameSize && !watched.empty()) {
        cv::Mat scaled;
        if (watched.size() == frameSize) {
            scaled = watched;
        } else {
            cv::resize(watched, scaled, frameSize, 0.0, 0.0, cv::INTER_NEAREST);
        }
        // A buffer of its own, never one that a copy of this region may still share.
        cv::Mat channels;
        cv::cvtColor(scaled, channels, cv::COLOR_GRAY2BGR);
        prepared = channels;
    }
    return prepared;
}

}  // namespace pelmora
