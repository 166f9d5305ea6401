#include "RegionShapes.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "TextFormat.h"

namespace pelmora {

namespace {

// One whole number of digits alone, as a coordinate is written; false for anything else.
bool readCoordinate(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::atoi(text.c_str());
    return true;
}

// Twice the area the points enclose, by the shoelace sum, in whole numbers.
long long doubledArea(const std::vector<cv::Point>& points) {
    long long sum = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const cv::Point& a = points[i];
        const cv::Point& b = points[(i + 1) % points.size()];
        sum += static_cast<long long>(a.x) * b.y - static_cast<long long>(b.x) * a.y;
    }
    return sum < 0 ? -sum : sum;
}

}  // namespace

std::string parsePolygon(const std::string& text, std::vector<cv::Point>& points) {
    std::vector<cv::Point> read;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const std::string::size_type comma = word.find(',');
        cv::Point point;
        if (comma == std::string::npos || !readCoordinate(word.substr(0, comma), point.x) ||
            !readCoordinate(word.substr(comma + 1), point.y)) {
            return "'" + word + "' is no point: write x,y in whole pixels";
        }
        read.push_back(point);
    }
    if (read.size() < 3) {
        return formatText("a polygon needs three points or more, not %zu", read.size());
    }
    if (doubledArea(read) == 0) {
        return "the points '" + text + "' enclose no area";
    }
    points = std::move(read);
    return std::string();
}

std::string polygonText(const std::vector<cv::Point>& points) {
    std::string text;
    for (const cv::Point& point : points) {
        text += (text.empty() ? "" : " ") + std::to_string(point.x) + "," + std::to_string(point.y);
    }
    return text;
}

std::string parseRegionText(const std::string& text, RegionShapes& shapes) {
    RegionShapes read;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string::size_type first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        RegionShape shape;
        std::string rest = line.substr(first);
        for (const char* word : {"keep", "exclude"}) {
            const std::size_t length = std::strlen(word);
            if (rest.compare(0, length, word) == 0 &&
                (rest.size() == length || rest[length] == ' ' || rest[length] == '\t')) {
                shape.keep = word[0] == 'k';
                rest = rest.substr(length);
            }
        }
        const std::string reason = parsePolygon(rest, shape.points);
        if (!reason.empty()) {
            return formatText("line %d: ", number) + reason;
        }
        read.push_back(std::move(shape));
    }
    if (read.empty()) {
        return "it holds no polygon";
    }
    shapes = std::move(read);
    return std::string();
}

std::vector<std::string> regionLines(const RegionShapes& shapes) {
    std::vector<std::string> lines;
    for (const RegionShape& shape : shapes) {
        lines.push_back(std::string(shape.keep ? "keep " : "exclude ") + polygonText(shape.points));
    }
    return lines;
}

std::string regionFileText(const RegionShapes& shapes) {
    std::string text = "# Regions in the video's pixels: one polygon a line, kept or excluded.\n";
    for (const std::string& line : regionLines(shapes)) {
        text += line + "\n";
    }
    return text;
}

std::string readRegionFile(const std::string& path, RegionShapes& shapes) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::strerror(errno);
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        return "it cannot be read";
    }
    return parseRegionText(text.str(), shapes);
}

std::string regionsOutside(const RegionShapes& shapes, cv::Size size) {
    if (size.area() <= 0) {
        return std::string();
    }
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        for (const cv::Point& point : shapes[i].points) {
            if (point.x > size.width || point.y > size.height) {
                return formatText(
                    "the point %d,%d of polygon %zu lies outside the picture, "
                    "which runs from 0,0 to %d,%d",
                    point.x, point.y, i + 1, size.width, size.height);
            }
        }
    }
    return std::string();
}

}  // namespace pelmora
