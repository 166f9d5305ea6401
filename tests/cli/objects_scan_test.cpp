// The objects detector as pelmora-scan runs it: where the objects were reaches the lists and
// the summary, and a change of light is one line, not an event.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ScanProcess.h"
#include "SceneFootage.h"
#include "TestSupport.h"

namespace {

TEST(ObjectsScan, SaysWhereTheObjectsWereAndALightChangeOnce) {
    testsupport::TempDir dir;
    testsupport::SceneRecipe scene;
    scene.kind = testsupport::Distractor::LightSwitch;
    scene.seconds = 8.0;
    scene.objects = {testsupport::crossing(scene, 4.5, 8.0, {20, 48})};
    const std::string video = dir.file("yard.mkv");
    ASSERT_EQ(testsupport::writeScene(scene, video), "");
    const clitest::ScanResult result =
        clitest::runScan({"-q", "--detector", "objects", "--events", "--summary", "json", "-o",
                          dir.file("out"), video});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, video + ": light change at 00:00:03.600\n");
    const nlohmann::json line = nlohmann::json::parse(result.out);
    EXPECT_EQ(line["most_objects"], 1);
    EXPECT_NEAR(line["box"]["height"].get<int>(), 48, 6) << line;
    const std::string events = testsupport::fileBytes(dir.file("out/events.csv"));
    EXPECT_EQ(events.substr(0, events.find('\r')),
              "event,start_ms,end_ms,start,end,snapshots,peak_pixels,peak_file,picture_file,box,"
              "most_objects");
    // One event, of the person: the change of light is none.
    EXPECT_EQ(std::count(events.begin(), events.end(), '\n'), 2) << events;
}

// Where the person stands, the middle of its box's lower edge, decides; excluded, it is not
// seen at all.
TEST(ObjectsScan, CountsAnObjectOnlyWhereItStands) {
    testsupport::TempDir dir;
    testsupport::SceneRecipe scene;
    scene.seconds = 6.0;
    // From 66 to 113 down the picture.
    scene.objects = {testsupport::crossing(scene, 1.0, 5.0, {20, 48})};
    const std::string video = dir.file("yard.mkv");
    ASSERT_EQ(testsupport::writeScene(scene, video), "");
    const struct {
        const char* name;
        std::vector<std::string> polygons;
        long long events;
    } rows[] = {
        {"its feet kept", {"--region", "0,100 320,100 320,130 0,130"}, 1},
        {"all but its feet kept", {"--region", "0,0 320,0 320,100 0,100"}, 0},
        {"its path excluded", {"--exclude", "0,40 320,40 320,140 0,140"}, 0},
    };
    for (const auto& row : rows) {
        const std::string out = dir.file(row.name);
        std::vector<std::string> arguments = {"-q", "--detector", "objects", "--events", "-o", out};
        arguments.insert(arguments.end(), row.polygons.begin(), row.polygons.end());
        arguments.push_back(video);
        const clitest::ScanResult result = clitest::runScan(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::string events = testsupport::fileBytes(out + "/events.csv");
        EXPECT_EQ(std::count(events.begin(), events.end(), '\n') - 1, row.events) << row.name;
    }
}

}  // namespace
