#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "RegionShapes.h"

namespace pelmora {

// The part of the picture where change counts, from a picture of it, polygons drawn on the
// video, or both (where both say so). The picture is white where motion counts, black where it
// is ignored (a waving tree, a clock, a road): light pixels (128 and up in grey) count, dark
// ones do not. The polygons keep what is inside those kept (everything, where none is kept)
// and leave out what is inside those excluded; a pixel on a polygon's edge is inside it.
// Without either the whole frame counts.
class WatchedRegion {
public:
    WatchedRegion() = default;

    // image: 8-bit, one, three or four channels.
    static WatchedRegion fromImage(const cv::Mat& image, std::string name = std::string());
    // Reads a still picture (PNG, JPEG, BMP and the like) into region; the reason when it
    // cannot, else nothing.
    static std::string load(const std::string& path, WatchedRegion& region);

    // The polygons, in the pixels of the frames they are drawn on.
    void setShapes(RegionShapes drawn);
    const RegionShapes& shapes() const { return polygons; }

    bool wholeFrame() const { return watched.empty() && polygons.empty(); }
    bool hasPicture() const { return !watched.empty(); }
    // The picture's own size, and the name it was read from.
    cv::Size size() const { return watched.size(); }
    const std::string& name() const { return sourceName; }

    // The region for frames of frameSize: three channels, each byte 0 or 255, as the change
    // counter takes it. A picture of another size is scaled to it with nearest-neighbour
    // sampling, so that it stays black and white. Made once per size and kept.
    const cv::Mat& forFrames(cv::Size frameSize);

    // For the objects detector, which learns the scene where the picture watches and no
    // polygon is excluded, and counts an object where it stands. The first at workingSize for
    // frames of frameSize, one channel, 0 or 255; empty where the whole scene is learnt.
    cv::Mat forModel(cv::Size frameSize, cv::Size workingSize) const;
    // Where an object may stand to count, at frameSize, 0 or 255: inside a kept polygon and no
    // excluded one. Empty where no polygon is kept, when every object counts.
    cv::Mat standing(cv::Size frameSize) const;

private:
    // The picture at frameSize, one channel; empty without one.
    cv::Mat pictureAt(cv::Size frameSize) const;
    // 255 inside the polygons of the kind, 0 elsewhere.
    cv::Mat drawn(cv::Size frameSize, bool keep) const;
    bool keeps() const;  // whether a polygon is kept
    // 255 where the polygons watch: inside a kept one (anywhere, when none is), outside every
    // excluded one.
    cv::Mat polygonArea(cv::Size frameSize) const;

    cv::Mat watched;   // one channel, 0 or 255
    cv::Mat prepared;  // for the last frame size asked for
    std::string sourceName;
    RegionShapes polygons;
};

// The polygons drawn over image, whose pixels are scale times the video's: each kept one
// outlined in green, each excluded one in red and shaded, so that a picture shows where a run
// looks.
void drawRegions(cv::Mat& image, const RegionShapes& shapes, double scale = 1.0);

// What the region watches, as a person reads it: "whole frame", the picture's file name, the
// polygons kept and left out, or both.
std::string regionText(const std::string& pictureName, const RegionShapes& shapes);

}  // namespace pelmora
