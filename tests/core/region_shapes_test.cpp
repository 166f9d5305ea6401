// Polygons drawn on the video: how they are written and read, where they watch, and that a
// run with them is the run with a mask picture of them.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "FrameDetector.h"
#include "RegionShapes.h"
#include "TestSupport.h"
#include "VideoRun.h"
#include "WatchedRegion.h"

namespace {

using pelmora::RegionShape;
using pelmora::RegionShapes;

TEST(RegionShapes, APolygonIsThreeWholePointsOrMoreThatEncloseSomeArea) {
    const struct {
        const char* name;
        const char* text;
        std::string reason;  // empty: read as points
        std::vector<cv::Point> points;
    } rows[] = {
        {"a triangle", "0,0 10,0 0,10", "", {{0, 0}, {10, 0}, {0, 10}}},
        {"spaces around", "  1,2   3,4\t5,9 ", "", {{1, 2}, {3, 4}, {5, 9}}},
        {"two points", "0,0 10,10", "a polygon needs three points or more, not 2", {}},
        {"nothing", "", "a polygon needs three points or more, not 0", {}},
        {"in a line", "0,0 5,5 10,10", "the points '0,0 5,5 10,10' enclose no area", {}},
        {"a negative", "0,0 -1,5 9,9", "'-1,5' is no point: write x,y in whole pixels", {}},
        {"a fraction", "0,0 1.5,5 9,9", "'1.5,5' is no point: write x,y in whole pixels", {}},
        {"no comma", "0,0 15 9,9", "'15' is no point: write x,y in whole pixels", {}},
        {"three numbers", "0,0 1,5,2 9,9", "'1,5,2' is no point: write x,y in whole pixels", {}},
        {"too long",
         "0,0 1234567890,5 9,9",
         "'1234567890,5' is no point: write x,y in whole pixels",
         {}},
    };
    for (const auto& row : rows) {
        std::vector<cv::Point> points;
        EXPECT_EQ(pelmora::parsePolygon(row.text, points), row.reason) << row.name;
        EXPECT_EQ(points, row.points) << row.name;
        if (row.reason.empty()) {
            std::vector<cv::Point> again;
            EXPECT_EQ(pelmora::parsePolygon(pelmora::polygonText(points), again), "");
            EXPECT_EQ(again, points) << row.name;
        }
    }
}

TEST(RegionShapes, AFileHoldsOnePolygonALineKeptUnlessExcluded) {
    const RegionShapes expected = {{true, {{0, 0}, {10, 0}, {0, 10}}},
                                   {false, {{5, 5}, {8, 5}, {8, 8}}},
                                   {true, {{1, 1}, {4, 1}, {4, 4}, {1, 4}}}};
    RegionShapes read;
    ASSERT_EQ(pelmora::parseRegionText("# drawn by hand\r\n0,0 10,0 0,10\r\n\n"
                                       "  exclude 5,5 8,5 8,8\nkeep\t1,1 4,1 4,4 1,4",
                                       read),
              "");
    EXPECT_EQ(read, expected);
    RegionShapes again;
    ASSERT_EQ(pelmora::parseRegionText(pelmora::regionFileText(expected), again), "");
    EXPECT_EQ(again, expected);

    const struct {
        const char* text;
        std::string reason;
    } refused[] = {
        {"# nothing but a comment\n\n", "it holds no polygon"},
        {"0,0 10,0 0,10\nexclude 1,1 2,2\n", "line 2: a polygon needs three points or more, not 2"},
        {"excluded 0,0 10,0 0,10\n", "line 1: 'excluded' is no point: write x,y in whole pixels"},
    };
    for (const auto& row : refused) {
        RegionShapes kept = expected;
        EXPECT_EQ(pelmora::parseRegionText(row.text, kept), row.reason) << row.text;
        EXPECT_EQ(kept, expected) << "a refused text changes nothing";
    }
}

TEST(RegionShapes, PointsRunFromTheTopLeftToTheWidthAndHeight) {
    const cv::Size size(64, 48);
    const struct {
        const char* name;
        cv::Point corner;
        std::string reason;
    } rows[] = {
        {"the far corner", {64, 48}, ""},
        {"a pixel past the width",
         {65, 10},
         "the point 65,10 of polygon 2 lies outside the picture, which runs from 0,0 to 64,48"},
        {"a pixel past the height",
         {10, 49},
         "the point 10,49 of polygon 2 lies outside the picture, which runs from 0,0 to 64,48"},
    };
    for (const auto& row : rows) {
        const RegionShapes shapes = {{true, {{0, 0}, {10, 0}, {0, 10}}},
                                     {false, {{0, 0}, row.corner, {0, 10}}}};
        EXPECT_EQ(pelmora::regionsOutside(shapes, size), row.reason) << row.name;
        EXPECT_EQ(pelmora::regionsOutside(shapes, cv::Size()), "") << "a size not known";
    }
}

// The watched pixels of a mask picture painted pixel by pixel: inside each kept rectangle,
// edges included, and not inside an excluded one.
cv::Mat paintedMask(cv::Size size, const std::vector<std::pair<cv::Rect, bool>>& rects) {
    const bool anyKept =
        std::any_of(rects.begin(), rects.end(),
                    [](const std::pair<cv::Rect, bool>& rect) { return rect.second; });
    cv::Mat mask(size, CV_8UC1, cv::Scalar(anyKept ? 0 : 255));
    for (const bool keep : {true, false}) {
        for (const auto& [rect, kept] : rects) {
            for (int y = rect.y; y <= rect.y + rect.height && y < size.height; ++y) {
                for (int x = rect.x; x <= rect.x + rect.width && x < size.width; ++x) {
                    if (kept == keep) {
                        mask.at<uchar>(y, x) = keep ? 255 : 0;
                    }
                }
            }
        }
    }
    return mask;
}

RegionShape rectangle(const cv::Rect& rect, bool keep) {
    const int right = rect.x + rect.width;
    const int bottom = rect.y + rect.height;
    return {keep, {{rect.x, rect.y}, {right, rect.y}, {right, bottom}, {rect.x, bottom}}};
}

const std::vector<std::pair<cv::Rect, bool>> kRectangles = {
    {{8, 6, 32, 24}, true}, {{20, 10, 10, 10}, false}, {{44, 30, 20, 18}, true}};

TEST(WatchedRegion, PolygonsWatchWhatAMaskPictureOfThemWatches) {
    const cv::Size size(64, 48);
    const struct {
        const char* name;
        std::vector<std::pair<cv::Rect, bool>> rects;
    } rows[] = {
        {"kept and excluded, one over the frame's far edge", kRectangles},
        {"excluded alone: everything else", {{{20, 10, 10, 10}, false}}},
        {"two kept that overlap: no hole", {{{4, 4, 20, 20}, true}, {{10, 10, 20, 20}, true}}},
    };
    for (const auto& row : rows) {
        RegionShapes shapes;
        for (const auto& [rect, keep] : row.rects) {
            shapes.push_back(rectangle(rect, keep));
        }
        pelmora::WatchedRegion drawn;
        drawn.setShapes(shapes);
        pelmora::WatchedRegion painted =
            pelmora::WatchedRegion::fromImage(paintedMask(size, row.rects), "mask.png");
        EXPECT_EQ(cv::norm(drawn.forFrames(size), painted.forFrames(size), cv::NORM_INF), 0.0)
            << row.name;
    }
    // Both, each where the other watches too.
    pelmora::WatchedRegion both =
        pelmora::WatchedRegion::fromImage(paintedMask(size, {{{0, 0, 31, 47}, true}}), "left.png");
    both.setShapes({rectangle({8, 6, 32, 24}, true)});
    pelmora::WatchedRegion expected = pelmora::WatchedRegion::fromImage(
        paintedMask(size, {{{8, 6, 23, 24}, true}}), "left and polygon.png");
    EXPECT_EQ(cv::norm(both.forFrames(size), expected.forFrames(size), cv::NORM_INF), 0.0);
}

TEST(WatchedRegion, TheObjectsDetectorLearnsAllButTheExcludedAndCountsWhereKept) {
    const cv::Size size(64, 48);
    pelmora::WatchedRegion region;
    region.setShapes({rectangle({8, 6, 32, 24}, true), rectangle({20, 10, 10, 10}, false)});
    const cv::Mat learnt = region.forModel(size, size);
    EXPECT_EQ(cv::countNonZero(learnt), 64 * 48 - 11 * 11);
    EXPECT_EQ(cv::countNonZero(region.standing(size)), 33 * 25 - 11 * 11);
    pelmora::WatchedRegion excludedAlone;
    excludedAlone.setShapes({rectangle({20, 10, 10, 10}, false)});
    EXPECT_TRUE(excludedAlone.standing(size).empty()) << "no kept polygon: every place counts";
    EXPECT_TRUE(pelmora::WatchedRegion().forModel(size, size).empty());
}

// Dark and light in turn, so that every watched pixel changes in every frame, and the changed
// pixels the lists give are those the region watches.
std::vector<cv::Mat> flashingFrames(cv::Size size, int count) {
    std::vector<cv::Mat> frames;
    for (int i = 0; i < count; ++i) {
        frames.push_back(
            testsupport::solidFrame(size, cv::Scalar::all(i % 2 == 0 ? 40 + i : 220 - i)));
    }
    return frames;
}

TEST(RegionRun, PolygonsLeaveTheFilesOfAMaskPictureOfThem) {
    testsupport::TempDir tmp;
    const cv::Size size(64, 48);
    ASSERT_TRUE(testsupport::writeVideo(tmp.file("flashing.avi"), flashingFrames(size, 12), 25.0));
    ASSERT_TRUE(cv::imwrite(tmp.file("mask.png"), paintedMask(size, kRectangles)));
    RegionShapes shapes;
    for (const auto& [rect, keep] : kRectangles) {
        shapes.push_back(rectangle(rect, keep));
    }
    std::map<std::string, std::string> files[2];
    for (const bool byPolygons : {false, true}) {
        pelmora::VideoRunRequest request;
        const std::string dir = tmp.file(byPolygons ? "polygons" : "picture");
        request.run = pelmora::RunRequest{tmp.file("flashing.avi"), dir, 20};
        request.records.events = true;
        if (byPolygons) {
            request.run.watched.setShapes(shapes);
        } else {
            ASSERT_EQ(pelmora::WatchedRegion::load(tmp.file("mask.png"), request.run.watched), "");
        }
        testsupport::TestHost host;
        pelmora::FrameDetector detector;
        const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
        EXPECT_TRUE(result.complete) << host.text();
        files[byPolygons ? 1 : 0] = testsupport::folderBytes(dir);
    }
    EXPECT_EQ(files[0].size(), 12u + 2u) << "a snapshot of every frame, and the lists";
    EXPECT_EQ(files[1], files[0]);
}

TEST(RegionRun, PolygonsOutsideTheVideoAreRefusedBeforeAnythingIsWritten) {
    testsupport::TempDir tmp;
    ASSERT_TRUE(
        testsupport::writeVideo(tmp.file("flashing.avi"), flashingFrames({64, 48}, 2), 25.0));
    pelmora::VideoRunRequest request;
    request.run = pelmora::RunRequest{tmp.file("flashing.avi"), tmp.file("out"), 20};
    request.records.events = true;
    request.run.watched.setShapes({{true, {{0, 0}, {65, 0}, {0, 10}}}});
    testsupport::TestHost host;
    pelmora::FrameDetector detector;
    const pelmora::VideoRunResult result = pelmora::runVideo(detector, request, host);
    EXPECT_TRUE(result.failed);
    EXPECT_NE(host.text().find("the point 65,0 of polygon 1 lies outside the picture"),
              std::string::npos)
        << host.text();
    EXPECT_FALSE(std::filesystem::exists(tmp.file("out")));
}

}  // namespace
