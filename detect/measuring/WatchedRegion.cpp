#include "WatchedRegion.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <opencv2/imgproc.hpp>
#include <utility>

#include "FolderNames.h"
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

void WatchedRegion::setShapes(RegionShapes drawn) {
    polygons = std::move(drawn);
    prepared.release();
}

cv::Mat WatchedRegion::pictureAt(cv::Size frameSize) const {
    if (watched.empty() || watched.size() == frameSize) {
        return watched;
    }
    cv::Mat scaled;
    cv::resize(watched, scaled, frameSize, 0.0, 0.0, cv::INTER_NEAREST);
    return scaled;
}

cv::Mat WatchedRegion::drawn(cv::Size frameSize, bool keep) const {
    cv::Mat area = cv::Mat::zeros(frameSize, CV_8UC1);
    for (const RegionShape& shape : polygons) {
        if (shape.keep == keep) {
            // Each polygon on its own: filled together, where two overlap the even-odd rule
            // would leave a hole.
            cv::fillPoly(area, std::vector<std::vector<cv::Point>>{shape.points}, cv::Scalar(255),
                         cv::LINE_8);
        }
    }
    return area;
}

bool WatchedRegion::keeps() const {
    return std::any_of(polygons.begin(), polygons.end(),
                       [](const RegionShape& shape) { return shape.keep; });
}

cv::Mat WatchedRegion::polygonArea(cv::Size frameSize) const {
    cv::Mat area;
    cv::bitwise_not(drawn(frameSize, false), area);
    if (keeps()) {
        cv::bitwise_and(drawn(frameSize, true), area, area);
    }
    return area;
}

const cv::Mat& WatchedRegion::forFrames(cv::Size frameSize) {
    if (prepared.size() != frameSize && !wholeFrame()) {
        cv::Mat area = pictureAt(frameSize);
        if (!polygons.empty()) {
            cv::Mat drawnArea = polygonArea(frameSize);
            if (!area.empty()) {
                cv::bitwise_and(area, drawnArea, drawnArea);
            }
            area = drawnArea;
        }
        // A buffer of its own, never one that a copy of this region may still share.
        cv::Mat channels;
        cv::cvtColor(area, channels, cv::COLOR_GRAY2BGR);
        prepared = channels;
    }
    return prepared;
}

cv::Mat WatchedRegion::forModel(cv::Size frameSize, cv::Size workingSize) const {
    cv::Mat learnt = pictureAt(frameSize);
    const bool excludes = std::any_of(polygons.begin(), polygons.end(),
                                      [](const RegionShape& shape) { return !shape.keep; });
    if (excludes) {
        cv::Mat outside;
        cv::bitwise_not(drawn(frameSize, false), outside);
        if (!learnt.empty()) {
            cv::bitwise_and(learnt, outside, outside);
        }
        learnt = outside;
    }
    if (learnt.empty()) {
        return learnt;
    }
    cv::Mat small;
    cv::resize(learnt, small, workingSize, 0, 0, cv::INTER_NEAREST);
    return small;
}

cv::Mat WatchedRegion::standing(cv::Size frameSize) const {
    return keeps() ? polygonArea(frameSize) : cv::Mat();
}

void drawRegions(cv::Mat& image, const RegionShapes& shapes, double scale) {
    const int width = std::max(2, static_cast<int>(std::lround(image.cols / 320.0)));
    for (const RegionShape& shape : shapes) {
        std::vector<cv::Point> points;
        for (const cv::Point& point : shape.points) {
            points.emplace_back(static_cast<int>(std::lround(point.x * scale)),
                                static_cast<int>(std::lround(point.y * scale)));
        }
        const std::vector<std::vector<cv::Point>> outline{points};
        if (!shape.keep) {
            cv::Mat shaded = image.clone();
            cv::fillPoly(shaded, outline, cv::Scalar(0, 0, 160), cv::LINE_AA);
            cv::addWeighted(image, 0.6, shaded, 0.4, 0.0, image);
        }
        cv::polylines(image, outline, true,
                      shape.keep ? cv::Scalar(0, 220, 0) : cv::Scalar(0, 0, 230), width,
                      cv::LINE_AA);
    }
}

std::string regionText(const std::string& pictureName, const RegionShapes& shapes) {
    const long long kept = std::count_if(shapes.begin(), shapes.end(),
                                         [](const RegionShape& shape) { return shape.keep; });
    const long long left = static_cast<long long>(shapes.size()) - kept;
    std::string polygons;
    if (kept > 0) {
        polygons = std::to_string(kept) + (kept == 1 ? " polygon kept" : " polygons kept");
    }
    if (left > 0) {
        polygons += (polygons.empty() ? "" : ", ") + std::to_string(left) +
                    (left == 1 ? " polygon left out" : " polygons left out");
    }
    const std::string picture = fileNameOf(pictureName);
    if (picture.empty()) {
        return polygons.empty() ? std::string("whole frame") : polygons;
    }
    return polygons.empty() ? picture : picture + " and " + polygons;
}

}  // namespace pelmora
