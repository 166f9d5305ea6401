#pragma once

#include <opencv2/core.hpp>
#include <string>
#include <vector>

namespace pelmora {

// A polygon drawn on the video, in its pixels as it is shown (turned where it is): the area
// inside it is kept, or left out.
struct RegionShape {
    bool keep = true;
    std::vector<cv::Point> points;

    bool operator==(const RegionShape& other) const {
        return keep == other.keep && points == other.points;
    }
};
using RegionShapes = std::vector<RegionShape>;

// The points of one polygon as --region and --exclude take them: "x,y x,y x,y", whole pixels,
// three points or more, enclosing some area. The reason it is not one, else nothing.
std::string parsePolygon(const std::string& text, std::vector<cv::Point>& points);
// The same points written as parsePolygon reads them.
std::string polygonText(const std::vector<cv::Point>& points);

// A region file: one polygon a line, kept unless the line begins with "exclude" ("keep" may
// say so too); blank lines and lines that begin with '#' say nothing. The reason, with its
// line's number, when the text is no such file.
std::string parseRegionText(const std::string& text, RegionShapes& shapes);
// Each shape as a line of a region file: "keep x,y x,y x,y" or "exclude ...".
std::vector<std::string> regionLines(const RegionShapes& shapes);
// A region file's text for shapes, which parseRegionText reads back as they are.
std::string regionFileText(const RegionShapes& shapes);
// Reads the region file at path; the reason when it cannot, else nothing.
std::string readRegionFile(const std::string& path, RegionShapes& shapes);

// Why shapes cannot be drawn on a picture of size: the first point outside it, which runs from
// 0,0 to its width,height. Empty when every point lies on the picture, or the size is not known
// (0 x 0): the frames then say where they lie.
std::string regionsOutside(const RegionShapes& shapes, cv::Size size);

}  // namespace pelmora
